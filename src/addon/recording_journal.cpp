#include "recording_journal.h"

#include <nlohmann/json.hpp>

std::shared_ptr<RecordingJournal> RecordingJournal::create(const std::filesystem::path& projectDir) {
    const std::filesystem::path file = projectDir / journalFileName;
#ifdef _WIN32
    std::FILE* stream = _wfopen(file.c_str(), L"wb");
#else
    std::FILE* stream = std::fopen(file.c_str(), "wb");
#endif
    if (stream == nullptr) return nullptr;
    return std::shared_ptr<RecordingJournal>(new RecordingJournal(stream));
}

RecordingJournal::RecordingJournal(std::FILE* opened) : stream(opened) {}

RecordingJournal::~RecordingJournal() { std::fclose(stream); }

void RecordingJournal::append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void RecordingJournal::appendText(const std::string& lines) {
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(lines.data(), 1, lines.size(), stream);
    std::fflush(stream);
}

std::vector<nlohmann::json> journalEntries(const std::string& text, const char* kind) {
    std::vector<nlohmann::json> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        nlohmann::json line = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                                                    text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        if (line.is_object() && line.value("kind", "") == kind) entries.push_back(std::move(line));
        start = end + 1;
    }
    return entries;
}
