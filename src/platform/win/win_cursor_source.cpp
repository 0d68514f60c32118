#include <windows.h>

#include "platform/cursor_source.h"
#include "platform/standard_cursor_table.h"
#include "platform/win/standard_cursors.h"

namespace {

struct CursorRow {
    const char* name;
    WORD identifier;
};

// Looked up in this order; a handle the system shares between identifiers keeps the first name.
constexpr CursorRow cursorRows[standardCursorCount] = {
    {"AppStarting", 32650}, {"Arrow", 32512},    {"Cross", 32515},  {"Help", 32651},
    {"IBeam", 32513},       {"Icon", 32641},     {"No", 32648},     {"Size", 32640},
    {"SizeAll", 32646},     {"SizeNESW", 32643}, {"SizeNS", 32645}, {"SizeNWSE", 32642},
    {"SizeWE", 32644},      {"UpArrow", 32516},  {"Wait", 32514},   {"Hand", 32649},
};

StandardCursorTable loadStandardCursors() {
    StandardCursorTable table;
    for (const CursorRow& row : cursorRows) {
        // A failed load gives a null handle, which never matches a cursor on screen.
        const HCURSOR handle = LoadCursorA(nullptr, MAKEINTRESOURCEA(row.identifier));
        table.add(reinterpret_cast<std::uintptr_t>(handle), row.name);
    }
    return table;
}

// Shared system cursors stay valid for the whole process: built once, at load.
const StandardCursorTable standardCursors = loadStandardCursors();

// The bitmaps GetIconInfo creates, deleted when this goes out of scope.
class IconInfo {
public:
    explicit IconInfo(HICON icon) : valid(GetIconInfo(icon, &info) != 0) {}
    ~IconInfo() {
        if (!valid) return;
        if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    }
    IconInfo(const IconInfo&) = delete;
    IconInfo& operator=(const IconInfo&) = delete;

    bool ok() const { return valid; }
    const ICONINFO& get() const { return info; }

private:
    ICONINFO info{};
    bool valid;
};

class WinCursorSource final : public CursorSource {
public:
    const char* currentCursorName() override {
        CURSORINFO cursor{};
        cursor.cbSize = sizeof(cursor);
        if (!GetCursorInfo(&cursor)) return unknownCursorName;
        const IconInfo icon(cursor.hCursor);
        if (!icon.ok()) return unknownCursorName;
        const char* name = standardCursors.find(reinterpret_cast<std::uintptr_t>(cursor.hCursor));
        return name != nullptr ? name : unknownCursorName;
    }

    std::vector<NamedCursorShape> measureStandardCursors() override {
        std::vector<NamedCursorShape> shapes;
        for (const auto& [handle, name] : standardCursors.entries()) {
            const IconInfo icon(reinterpret_cast<HICON>(handle));
            if (!icon.ok()) continue;
            BITMAP mask{};
            if (GetObjectA(icon.get().hbmMask, sizeof(mask), &mask) == 0) continue;
            shapes.push_back({name, shapeFromMask(static_cast<int32_t>(icon.get().xHotspot),
                                                  static_cast<int32_t>(icon.get().yHotspot), mask.bmWidth,
                                                  mask.bmHeight, icon.get().hbmColor != nullptr)});
        }
        return shapes;
    }
};

}  // namespace

const char* standardCursorNameOf(std::uintptr_t handle) { return standardCursors.find(handle); }

std::unique_ptr<CursorSource> openCursorSource() { return std::make_unique<WinCursorSource>(); }
