#include "input/input_record_text.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/cursor_source.h"

namespace {

template <typename Integer>
void appendNumber(std::string& out, Integer value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// As the JSON library escapes strings: quotes, backslashes and control characters; other bytes
// stand as they are.
void appendString(std::string& out, const char* text) {
    out += '"';
    for (const char* at = text; *at != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

const char* cursorNameText(const InputRecord& record) { return record.cursorName != nullptr ? record.cursorName : unknownCursorName; }

// Reads `"key":` then an integer at `at` in `line`; false when the line is not laid out so.
template <typename Integer>
bool readMember(const std::string& line, size_t& at, const char* key, Integer& value) {
    const size_t length = std::strlen(key);
    if (line.compare(at, length, key) != 0) return false;
    at += length;
    const auto result = std::from_chars(line.data() + at, line.data() + line.size(), value);
    if (result.ec != std::errc()) return false;
    at = static_cast<size_t>(result.ptr - line.data());
    return true;
}

const char* internName(const std::string& name, std::set<std::string>& names) {
    for (const char* standard : standardCursorNames) {
        if (name == standard) return standard;
    }
    if (name == unknownCursorName) return unknownCursorName;
    return names.insert(name).first->c_str();
}

// The lines this program writes, read without a JSON parser: most of a long journal.
bool readOwnLine(const std::string& line, InputRecord& record, bool& click, std::set<std::string>& names) {
    size_t at = 1;
    if (line.empty() || line[0] != '{' || !readMember(line, at, "\"button\":", record.button)) return false;
    if (line.compare(at, 15, ",\"cursorName\":\"") != 0) return false;
    at += 15;
    const size_t nameEnd = line.find('"', at);
    if (nameEnd == std::string::npos || line.find('\\', at) < nameEnd) return false;
    const std::string name = line.substr(at, nameEnd - at);
    at = nameEnd + 1;
    if (line.compare(at, 18, ",\"kind\":\"position\"") == 0) {
        click = false;
        at += 18;
    } else if (line.compare(at, 15, ",\"kind\":\"click\"") == 0) {
        click = true;
        at += 15;
    } else {
        return false;
    }
    if (!readMember(line, at, ",\"time\":", record.time) || !readMember(line, at, ",\"type\":", record.type) ||
        !readMember(line, at, ",\"x\":", record.x) || !readMember(line, at, ",\"y\":", record.y) || line.compare(at, std::string::npos, "}") != 0) {
        return false;
    }
    record.cursorName = internName(name, names);
    return true;
}

}  // namespace

void appendJournalLine(std::string& out, const InputRecord& record, bool click) {
    out += "{\"button\":";
    appendNumber(out, record.button);
    out += ",\"cursorName\":";
    appendString(out, cursorNameText(record));
    out += click ? ",\"kind\":\"click\",\"time\":" : ",\"kind\":\"position\",\"time\":";
    appendNumber(out, record.time);
    out += ",\"type\":";
    appendNumber(out, record.type);
    out += ",\"x\":";
    appendNumber(out, record.x);
    out += ",\"y\":";
    appendNumber(out, record.y);
    out += '}';
}

void appendRecordListElement(std::string& out, const InputRecord& record, size_t index) {
    out += index == 0 ? "[\n    {\n        \"button\": " : ",\n    {\n        \"button\": ";
    appendNumber(out, record.button);
    out += ",\n        \"cursorName\": ";
    appendString(out, cursorNameText(record));
    out += ",\n        \"time\": ";
    appendNumber(out, record.time);
    out += ",\n        \"type\": ";
    appendNumber(out, record.type);
    out += ",\n        \"x\": ";
    appendNumber(out, record.x);
    out += ",\n        \"y\": ";
    appendNumber(out, record.y);
    out += "\n    }";
}

void finishRecordList(std::string& out, size_t count) { out += count == 0 ? "[]" : "\n]"; }

bool writeRecordList(const std::filesystem::path& path, const std::vector<InputRecord>& records, std::string* reason) {
    // Pieces of about this size reach the file; the text as a whole never exists.
    constexpr size_t pieceSize = 1 << 16;
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string piece;
    piece.reserve(pieceSize + 512);
    for (size_t i = 0; i < records.size() && file; ++i) {
        appendRecordListElement(piece, records[i], i);
        if (piece.size() >= pieceSize) {
            file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            piece.clear();
        }
    }
    finishRecordList(piece, records.size());
    if (file) file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    if (file) file.close();
    if (file) return true;
    if (reason != nullptr) *reason = errno != 0 ? std::strerror(errno) : "write failed";
    // A part of the text would look like a finished file.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
}

bool readJournalRecord(const std::string& line, InputRecord& record, bool& click, std::set<std::string>& names) {
    if (readOwnLine(line, record, click, names)) return true;
    // Any other layout of the same members (an older journal, an edited one).
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object()) return false;
    const auto kind = object.find("kind");
    if (kind == object.end() || !kind->is_string()) return false;
    if (*kind == "position") {
        click = false;
    } else if (*kind == "click") {
        click = true;
    } else {
        return false;
    }
    const auto number = [&](const char* key) -> int64_t {
        const auto member = object.find(key);
        return member != object.end() && member->is_number_integer() ? member->get<int64_t>() : 0;
    };
    record.x = static_cast<int32_t>(number("x"));
    record.y = static_cast<int32_t>(number("y"));
    record.type = static_cast<int32_t>(number("type"));
    record.button = static_cast<int32_t>(number("button"));
    record.time = number("time");
    const auto name = object.find("cursorName");
    record.cursorName = internName(name != object.end() && name->is_string() ? name->get<std::string>() : std::string(unknownCursorName), names);
    return true;
}
