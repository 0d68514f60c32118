#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "input/input_records.h"

// The input records as text: positions.json and clicks.json (one object per record with sorted
// keys, indent 4, "[]" for an empty list) and the journal's lines, written piece by piece.

// Appends `record` as a journal line (no newline): its six members and "kind" ("position" or
// "click"), keys sorted, no spaces.
void appendJournalLine(std::string& out, const InputRecord& record, bool click);

// Appends the element `index` of a record list to its text: "[" before the first, "," between,
// the record's object indented 4. `finishRecordList` closes the list.
void appendRecordListElement(std::string& out, const InputRecord& record, size_t index);
void finishRecordList(std::string& out, size_t count);

// Writes a record list file piece by piece (never the whole text in memory); false, with no file
// left and the system's reason, when it cannot.
bool writeRecordList(const std::filesystem::path& path, const std::vector<InputRecord>& records, std::string* reason = nullptr);

// A journal line's input record: true for a "position" or "click" line, with `click` saying
// which. Cursor names other than the standard ones are kept in `names`, which must outlive the
// record.
bool readJournalRecord(const std::string& line, InputRecord& record, bool& click, std::set<std::string>& names);
