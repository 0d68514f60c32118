#include "addon/project_recovery.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

#include "addon/meta_json.h"
#include "audio/wav_track_file.h"
#include "input/cursor_catalogue.h"
#include "input/cursor_images.h"
#include "input/input_record_text.h"
#include "input/input_records.h"
#include "input/text_file.h"
#include "platform/video_file_finishing.h"
#include "recording_journal.h"

namespace {

void recoverVideo(const std::filesystem::path& dir, const char* name, std::vector<RecoveredFile>& report) {
    const std::filesystem::path file = dir / name;
    std::error_code ignored;
    std::filesystem::path finishing = file;
    finishing += ".finishing";
    // Left by a process that died while finishing; the fragmented file is still whole.
    std::filesystem::remove(finishing, ignored);
    if (!std::filesystem::exists(file)) return;
    const VideoFinishResult result = finishVideoFile(file);
    switch (result.outcome) {
    case VideoFinishResult::Outcome::alreadyOrdinary: report.push_back({name, "unchanged", -1, "ordinary MPEG-4"}); break;
    case VideoFinishResult::Outcome::finished:
        report.push_back({name, "recovered", result.seconds, "fragments made an ordinary MPEG-4"});
        break;
    case VideoFinishResult::Outcome::failed: report.push_back({name, "failed", -1, result.problem}); break;
    }
}

void recoverWav(const std::filesystem::path& dir, const char* name, std::vector<RecoveredFile>& report) {
    const std::filesystem::path file = dir / name;
    if (!std::filesystem::exists(file)) return;
    const WavMendResult result = mendWavFile(file);
    if (!result.valid) {
        report.push_back({name, "failed", -1, result.problem});
    } else if (result.changed) {
        report.push_back({name, "recovered", result.seconds,
                          result.pastSizeLimit ? "RIFF and data sizes mended to the 4 GB maximum; the data runs past it to the end of the file"
                                               : "RIFF and data sizes mended"});
    } else {
        report.push_back({name, "unchanged", result.seconds,
                          result.pastSizeLimit ? "sizes state the 4 GB maximum; the data runs past it to the end of the file" : "sizes match the data"});
    }
}

void rebuild(const std::filesystem::path& dir, const char* name, const std::string& text, const std::string& detail,
             bool& allWritten, std::vector<RecoveredFile>& report) {
    if (writeTextFile(dir / name, text)) {
        report.push_back({name, "recovered", -1, detail});
    } else {
        allWritten = false;
        report.push_back({name, "failed", -1, "cannot be written"});
    }
}

void rebuildList(const std::filesystem::path& dir, const char* name, const std::vector<InputRecord>& records, bool& allWritten,
                 std::vector<RecoveredFile>& report) {
    if (writeRecordList(dir / name, records)) {
        report.push_back({name, "recovered", -1, std::to_string(records.size()) + " records from the journal"});
    } else {
        allWritten = false;
        report.push_back({name, "failed", -1, "cannot be written"});
    }
}

void recoverFromJournal(const std::filesystem::path& dir, std::vector<RecoveredFile>& report) {
    const std::filesystem::path journalPath = dir / journalFileName;
    std::ifstream in(journalPath, std::ios::binary);
    if (!in) {
        // A finished recording: its JSON files stand as they are.
        for (const char* name : {"positions.json", "clicks.json", "cursor_info.json", "meta.json"}) {
            if (std::filesystem::exists(dir / name)) report.push_back({name, "unchanged", -1, ""});
        }
        return;
    }
    // Read a line at a time: the input records, most of a long journal, go straight into their
    // compact lists; the few other lines are kept as text for their own readers.
    std::vector<InputRecord> positions;
    std::vector<InputRecord> clicks;
    // Room for as many moves as the journal could hold (no line is shorter than 80 bytes), so the
    // list never doubles; pages that are never filled take no memory.
    std::error_code sizeUnknown;
    const uintmax_t journalBytes = std::filesystem::file_size(journalPath, sizeUnknown);
    if (!sizeUnknown) positions.reserve(static_cast<size_t>(std::min<uintmax_t>(journalBytes / 80, 20'000'000)));
    std::set<std::string> cursorNames;
    std::string others;
    std::string line;
    while (std::getline(in, line)) {
        InputRecord record{};
        bool click = false;
        if (readJournalRecord(line, record, click, cursorNames)) {
            (click ? clicks : positions).push_back(record);
        } else {
            others += line;
            others += '\n';
        }
    }
    in.close();

    bool allWritten = true;
    rebuildList(dir, "positions.json", positions, allWritten, report);
    std::vector<InputRecord>().swap(positions);
    rebuildList(dir, "clicks.json", clicks, allWritten, report);
    const std::string cursors = cursorInfoFromJournal(others);
    if (!cursors.empty()) rebuild(dir, "cursor_info.json", cursors, "from the journal", allWritten, report);
    const CursorJournalFiles cursorImages = cursorFilesFromJournal(others);
    if (!cursorImages.index.empty()) {
        std::error_code made;
        std::filesystem::create_directories(dir / cursorFolderName, made);
        const std::string folder = std::string(cursorFolderName) + "/";
        rebuild(dir, (folder + cursorIndexFileName).c_str(), cursorImages.index,
                std::to_string(cursorImages.imageCount) + " images from the journal", allWritten, report);
        rebuild(dir, (folder + cursorTimelineFileName).c_str(), cursorImages.timeline,
                std::to_string(cursorImages.shownCount) + " changes from the journal", allWritten, report);
    }
    const std::string meta = metaJsonFromJournal(others);
    if (!meta.empty()) rebuild(dir, "meta.json", meta, "from the journal", allWritten, report);
    std::error_code ignored;
    if (allWritten && !meta.empty()) std::filesystem::remove(journalPath, ignored);
}

}  // namespace

std::vector<RecoveredFile> recoverProject(const std::filesystem::path& dir) {
    std::vector<RecoveredFile> report;
    for (const char* name : {"output.mp4", "webcam.mp4"}) recoverVideo(dir, name, report);
    for (const char* name : {"mivox.wav", "output.wav"}) recoverWav(dir, name, report);
    recoverFromJournal(dir, report);
    return report;
}
