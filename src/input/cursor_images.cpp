#include "input/cursor_images.h"

#include <nlohmann/json.hpp>

#include "recording_journal.h"

CursorImageEntry cursorImageEntry(const CursorImage& image, std::string id) {
    return {std::move(id), image.width, image.height, image.hotX, image.hotY, image.scale, image.outlined, image.standardName};
}

nlohmann::json cursorImageJson(const CursorImageEntry& entry) {
    return {{"id", entry.id},
            {"file", entry.id + ".png"},
            {"width", entry.width},
            {"height", entry.height},
            {"hotX", entry.hotX},
            {"hotY", entry.hotY},
            {"scale", entry.scale},
            {"outlined", entry.outlined},
            {"standardName", entry.standardName.empty() ? nlohmann::json(nullptr) : nlohmann::json(entry.standardName)}};
}

nlohmann::json cursorShownJson(const CursorShown& shown) {
    return {{"time", shown.time}, {"id", shown.id ? nlohmann::json(*shown.id) : nlohmann::json(nullptr)}};
}

std::string cursorIndexJson(const std::vector<CursorImageEntry>& images) {
    nlohmann::json list = nlohmann::json::array();
    for (const CursorImageEntry& entry : images) list.push_back(cursorImageJson(entry));
    return nlohmann::json{{"images", list}}.dump(4);
}

std::string cursorTimelineJson(const std::vector<CursorShown>& timeline) {
    nlohmann::json list = nlohmann::json::array();
    for (const CursorShown& shown : timeline) list.push_back(cursorShownJson(shown));
    return list.dump(4);
}

CursorJournalFiles cursorFilesFromJournal(const std::string& journal) {
    CursorJournalFiles files;
    std::vector<CursorImageEntry> images;
    for (const nlohmann::json& line : journalEntries(journal, "cursorImage")) {
        CursorImageEntry entry;
        entry.id = line.value("id", "");
        entry.width = line.value("width", 0);
        entry.height = line.value("height", 0);
        entry.hotX = line.value("hotX", 0);
        entry.hotY = line.value("hotY", 0);
        entry.scale = line.value("scale", 1.0);
        entry.outlined = line.value("outlined", false);
        if (line.contains("standardName") && line["standardName"].is_string()) entry.standardName = line["standardName"];
        if (!entry.id.empty()) images.push_back(std::move(entry));
    }
    std::vector<CursorShown> timeline;
    for (const nlohmann::json& line : journalEntries(journal, "cursorShown")) {
        CursorShown shown{line.value("time", int64_t{0}), std::nullopt};
        if (line.contains("id") && line["id"].is_string()) shown.id = line["id"].get<std::string>();
        timeline.push_back(std::move(shown));
    }
    if (images.empty() && timeline.empty()) return files;
    files.index = cursorIndexJson(images);
    files.timeline = cursorTimelineJson(timeline);
    files.imageCount = images.size();
    files.shownCount = timeline.size();
    return files;
}
