#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "input/cursor_pixels.h"

// The cursor images of a recording: every distinct image once, as cursors/<id>.png, described in
// cursors/index.json, and cursors/timeline.json saying from which wall-clock ms each was in force
// (an id of null: the pointer was hidden).

constexpr const char* cursorFolderName = "cursors";
constexpr const char* cursorIndexFileName = "index.json";
constexpr const char* cursorTimelineFileName = "timeline.json";

struct CursorImageEntry {
    std::string id;
    int32_t width = 0;
    int32_t height = 0;
    int32_t hotX = 0;
    int32_t hotY = 0;
    double scale = 1;
    bool outlined = false;
    std::string standardName;
};

struct CursorShown {
    int64_t time = 0;                // wall-clock ms
    std::optional<std::string> id;  // none while hidden
};

CursorImageEntry cursorImageEntry(const CursorImage& image, std::string id);

nlohmann::json cursorImageJson(const CursorImageEntry& entry);
nlohmann::json cursorShownJson(const CursorShown& shown);

// The two files' text (indent 4, keys sorted).
std::string cursorIndexJson(const std::vector<CursorImageEntry>& images);
std::string cursorTimelineJson(const std::vector<CursorShown>& timeline);

// Both files' text from a recording journal's "cursorImage" and "cursorShown" lines; empty
// strings when it holds none.
struct CursorJournalFiles {
    std::string index;
    std::string timeline;
    size_t imageCount = 0;
    size_t shownCount = 0;
};
CursorJournalFiles cursorFilesFromJournal(const std::string& journal);
