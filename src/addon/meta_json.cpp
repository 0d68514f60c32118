#include "addon/meta_json.h"

#include <nlohmann/json.hpp>

#include "screen_figures.h"
#include "utf8_path.h"

std::string buildMetaJson(const RecordingSettings& settings) {
    nlohmann::json meta;  // std::map underneath: keys come out sorted
    meta["fps"] = VIDEO_FPS;
    meta["height"] = VIDEO_HEIGHT;
    meta["micChannels"] = 1;
    meta["micIndex"] = settings.micIndex;
    meta["micSimpleRate"] = 16000;
    meta["playbackChannels"] = 1;
    meta["playbackSimpleRate"] = 16000;
    // The area the screen track recorded, which is not the one asked for when that was refused.
    meta["rx"] = {recordedArea.left, recordedArea.top, recordedArea.right, recordedArea.bottom};
    meta["systemAudioIndex"] = settings.systemAudioIndex;
    meta["time"] = recordingStartTime;
    meta["width"] = VIDEO_WIDTH;
    return meta.dump(4);
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
