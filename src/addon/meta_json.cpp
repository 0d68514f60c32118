#include "addon/meta_json.h"

#include <nlohmann/json.hpp>

#include "recording_journal.h"
#include "screen_figures.h"
#include "utf8_path.h"

namespace {

nlohmann::json metaObject(const MetaFigures& figures) {
    nlohmann::json meta;  // std::map underneath: keys come out sorted
    meta["fps"] = figures.fps;
    meta["height"] = figures.height;
    meta["micChannels"] = 1;
    meta["micIndex"] = figures.micIndex;
    meta["micSimpleRate"] = 16000;
    meta["playbackChannels"] = 1;
    meta["playbackSimpleRate"] = 16000;
    meta["rx"] = {figures.rx.left, figures.rx.top, figures.rx.right, figures.rx.bottom};
    meta["systemAudioIndex"] = figures.systemAudioIndex;
    meta["time"] = figures.time;
    meta["width"] = figures.width;
    return meta;
}

// The area the screen track recorded, which is not the one asked for when that was refused.
MetaFigures currentFigures(const RecordingSettings& settings) {
    return {VIDEO_FPS, VIDEO_WIDTH, VIDEO_HEIGHT, recordedArea, recordingStartTime, settings.micIndex,
            settings.systemAudioIndex};
}

}  // namespace

std::string metaJson(const MetaFigures& figures) { return metaObject(figures).dump(4); }

std::string buildMetaJson(const RecordingSettings& settings) { return metaJson(currentFigures(settings)); }

void journalMeta(const RecordingSettings& settings, const MetaFigures& figures) {
    if (!settings.journal) return;
    nlohmann::json line = metaObject(figures);
    line["kind"] = "meta";
    settings.journal->append(line.dump());
}

void journalMeta(const RecordingSettings& settings) { journalMeta(settings, currentFigures(settings)); }

std::string metaJsonFromJournal(const std::string& journal) {
    std::vector<nlohmann::json> lines = journalEntries(journal, "meta");
    if (lines.empty()) return {};
    lines.back().erase("kind");
    return lines.back().dump(4);
}

std::string quotedPathLine(const std::filesystem::path& path) {
    const std::string text = utf8FromPath(path);
    std::string line = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') line += '\\';
        line += c;
    }
    line += "\"\n";
    return line;
}
