#include "input/cursor_catalogue.h"

#include <memory>

#include <nlohmann/json.hpp>

#include "input/text_file.h"
#include "recording_journal.h"

namespace {

// Both belong to the input thread; the source is open from the shape capture to the clear.
CursorShapes cursorShapes;
std::unique_ptr<CursorSource> cursorSource;

}  // namespace

void captureCursorShapes() {
    cursorSource = openCursorSource();
    for (const NamedCursorShape& measured : cursorSource->measureStandardCursors()) {
        cursorShapes[measured.name] = measured.shape;
    }
}

const char* currentCursorName() { return cursorSource ? cursorSource->currentCursorName() : unknownCursorName; }

std::string cursorInfoJson(const CursorShapes& shapes) {
    // An empty object when no cursor could be read (no display): readers always get an object.
    nlohmann::json info = nlohmann::json::object();  // keys come out sorted
    for (const auto& [name, shape] : shapes) {
        info[name] = {{"height", shape.height}, {"isColor", shape.isColor}, {"width", shape.width},
                      {"x", shape.x},           {"y", shape.y}};
    }
    return info.dump(4);
}

bool writeCursorInfo(const std::filesystem::path& path, std::string& reason) {
    return writeTextFile(path, cursorInfoJson(cursorShapes), &reason);
}

void clearCursorShapes() {
    cursorShapes.clear();
    cursorSource.reset();
}

void journalCursorShapes(RecordingJournal& journal) {
    const nlohmann::json line = {{"kind", "cursors"}, {"shapes", nlohmann::json::parse(cursorInfoJson(cursorShapes))}};
    journal.append(line.dump());
}

std::string cursorInfoFromJournal(const std::string& journal) {
    const std::vector<nlohmann::json> lines = journalEntries(journal, "cursors");
    if (lines.empty()) return {};
    const nlohmann::json& shapes = lines.back().at("shapes");
    // Journals written before the catalogue always wrote an object hold null for none.
    return shapes.is_null() ? nlohmann::json::object().dump(4) : shapes.dump(4);
}
