#include "addon/project_recovery.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "addon/meta_json.h"
#include "audio/wav_track_file.h"
#include "input/cursor_catalogue.h"
#include "input/cursor_images.h"
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
        report.push_back({name, "recovered", result.seconds, "RIFF and data sizes mended"});
    } else {
        report.push_back({name, "unchanged", result.seconds, "sizes match the data"});
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
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    const std::string journal = text.str();

    bool allWritten = true;
    const InputJournalFiles input = inputFilesFromJournal(journal);
    rebuild(dir, "positions.json", input.positions, std::to_string(input.positionCount) + " records from the journal",
            allWritten, report);
    rebuild(dir, "clicks.json", input.clicks, std::to_string(input.clickCount) + " records from the journal", allWritten,
            report);
    const std::string cursors = cursorInfoFromJournal(journal);
    if (!cursors.empty()) rebuild(dir, "cursor_info.json", cursors, "from the journal", allWritten, report);
    const CursorJournalFiles cursorImages = cursorFilesFromJournal(journal);
    if (!cursorImages.index.empty()) {
        std::error_code made;
        std::filesystem::create_directories(dir / cursorFolderName, made);
        const std::string folder = std::string(cursorFolderName) + "/";
        rebuild(dir, (folder + cursorIndexFileName).c_str(), cursorImages.index,
                std::to_string(cursorImages.imageCount) + " images from the journal", allWritten, report);
        rebuild(dir, (folder + cursorTimelineFileName).c_str(), cursorImages.timeline,
                std::to_string(cursorImages.shownCount) + " changes from the journal", allWritten, report);
    }
    const std::string meta = metaJsonFromJournal(journal);
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
