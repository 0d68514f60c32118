#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One measured cursor: hotspot, size in pixels and whether it has colour.
struct CursorShape {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool isColor = false;
};

struct NamedCursorShape {
    const char* name;
    CursorShape shape;
};

// The sixteen standard cursor names, in the order their system cursors are looked up.
inline constexpr const char* standardCursorNames[] = {
    "AppStarting", "Arrow", "Cross",    "Help",     "IBeam",  "Icon",    "No",   "Size",
    "SizeAll",     "SizeNESW", "SizeNS", "SizeNWSE", "SizeWE", "UpArrow", "Wait", "Hand",
};
inline constexpr int standardCursorCount = 16;

// The name of a cursor that is none of the standard ones.
inline constexpr const char* unknownCursorName = "Unknown";

// A monochrome cursor's mask holds the AND and the XOR image one above the other: the cursor is
// half as high, rounded up to an even number (64 -> 32, 66 -> 34).
inline int32_t monochromeCursorHeight(int32_t maskHeight) { return (maskHeight / 2 + 1) & ~1; }

// Shape from a cursor's hotspot and mask bitmap size; colour cursors keep the mask height.
inline CursorShape shapeFromMask(int32_t hotX, int32_t hotY, int32_t maskWidth, int32_t maskHeight,
                                 bool hasColorBitmap) {
    return {hotX, hotY, maskWidth, hasColorBitmap ? maskHeight : monochromeCursorHeight(maskHeight),
            hasColorBitmap};
}

// The display's cursor, as the input track needs it. Used by one thread at a time.
class CursorSource {
public:
    virtual ~CursorSource() = default;

    // Name of the cursor shape now on screen: one of standardCursorNames or unknownCursorName.
    // Called for every recorded input event, so it allocates nothing.
    virtual const char* currentCursorName() = 0;

    // Hotspot, size and colour kind of every standard cursor that can be measured.
    virtual std::vector<NamedCursorShape> measureStandardCursors() = 0;
};

// The platform's cursor source. Never null: without a display it names every cursor "Unknown"
// and measures nothing.
std::unique_ptr<CursorSource> openCursorSource();
