#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

// The file beside the tracks that a recording appends to as it goes: what meta.json needs once it
// is known, the cursor shapes and every input record. Each line is one JSON object with a "kind"
// member saying what it holds; readers skip kinds they do not know, so new kinds can be added.
// Lines reach the operating system as soon as they are written (input records within a tenth of
// a second), so recovery can rebuild the JSON files of a recording whose process died. It is only
// ever appended to and read from start to end, so it has no size limit of its own (past 4 GB
// included). A finished recording removes it.
constexpr const char* journalFileName = "journal.jsonl";

class RecordingJournal {
public:
    // Creates (or truncates) the journal in `projectDir`; null when it cannot be created.
    static std::shared_ptr<RecordingJournal> create(const std::filesystem::path& projectDir);
    ~RecordingJournal();
    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    // Appends `line` (one JSON object, no newline) and hands it to the operating system. Any thread.
    void append(const std::string& line);
    // Appends whole lines (each ending in a newline) with one write, and hands them to the
    // operating system. Any thread.
    void appendText(const std::string& lines);

private:
    explicit RecordingJournal(std::FILE* stream);

    std::mutex mutex;
    std::FILE* stream;
};

struct RecordingSettings;

// Appends what meta.json would state now (the process-wide screen figures) to the recording's
// journal, if it has one: the screen track calls it once its first sample is in the file.
void journalMeta(const RecordingSettings& settings);

// The entries of a journal's text whose "kind" is `kind`, in order; a line cut short by the
// process's death does not parse and is skipped.
std::vector<nlohmann::json> journalEntries(const std::string& text, const char* kind);
