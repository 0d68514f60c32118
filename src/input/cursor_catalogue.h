#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

#include "platform/cursor_source.h"

// The input track's cursor vocabulary: names the cursor on screen and measures the standard
// cursors for cursor_info.json. Used by the input thread only.

using CursorShapes = std::unordered_map<std::string, CursorShape>;

// Measures every standard cursor into the recording's shape records.
void captureCursorShapes();

// Name of the cursor shape on screen now: a standard name or "Unknown".
const char* currentCursorName();

// Writes cursor_info.json from the measured shapes; false, with the reason, when it cannot.
bool writeCursorInfo(const std::filesystem::path& path, std::string& reason);

// Forgets the measured shapes (and lets go of the display) once the file is written.
void clearCursorShapes();

// cursor_info.json's text: members sorted by name, indent 4, "null" when nothing was measured.
std::string cursorInfoJson(const CursorShapes& shapes);

class RecordingJournal;

// Appends the measured shapes to the recording's journal.
void journalCursorShapes(RecordingJournal& journal);

// cursor_info.json's text from the last shapes a journal's text holds; empty when it holds none.
std::string cursorInfoFromJournal(const std::string& journal);
