#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pointer_shape.h"

// A cursor image as an editor redraws it: straight (not premultiplied) RGBA, row by row from the
// top, with the hotspot in image pixels.
struct CursorImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t hotX = 0;
    int32_t hotY = 0;
    std::vector<uint8_t> rgba;  // width * height * 4 bytes: R, G, B, A
    double scale = 1;           // the display's scale when it was captured (1 = 96 dpi)
    bool outlined = false;      // pixels that invert the screen were drawn as a black and white outline
    std::string standardName;   // the standard cursor it is, or empty
    bool animated = false;      // an animated cursor: this is one frame, and it changes while in force

    bool operator==(const CursorImage& other) const;
};

// Pixels of X's XFixes cursor images: premultiplied ARGB, one per 32-bit value.
std::vector<uint8_t> straightRgbaFromPremultipliedArgb(const uint32_t* argb, size_t count);

// True when every pixel is fully transparent: a hidden pointer on X11 is an invisible image.
bool fullyTransparent(const std::vector<uint8_t>& rgba);

// Windows cursor bitmaps as GetDIBits hands them out top-down: `colour` is 32-bit BGRA (null
// for a monochrome cursor) and `mask` is 1 bit a pixel, rows padded to 32 bits. A monochrome
// cursor's mask holds the AND image above the XOR image (twice the cursor's height); a colour
// cursor's mask is its AND image alone.
//
// AND 0 / XOR 0 is black, AND 0 / XOR 1 white, AND 1 / XOR 0 transparent; AND 1 / XOR 1 inverts
// the screen beneath, which no fixed image can show: those pixels become black, ringed by a
// one-pixel white outline, and `outlined` is set. A colour bitmap without any alpha takes its
// transparency from the AND mask; with alpha, its alpha is used as it stands.
CursorImage cursorFromWindowsBitmaps(int32_t width, int32_t height, const uint8_t* colour, const uint8_t* mask);

// A shape from desktop duplication, by the same rules: a monochrome shape as above; a colour
// shape keeps its alpha; in a masked colour shape a pixel whose fourth byte is 0 is shown as it
// is, one whose fourth byte is 0xFF is XORed with the screen: transparent when its colour is
// black, otherwise drawn like an inverting pixel. Hotspot included; scale and name are left to
// the caller.
CursorImage cursorFromPointerShape(const PointerShape& shape);

// A name for an image that stays the same wherever and however often it is shown: a hash of its
// size, hotspot and pixels, as 16 hex digits.
std::string cursorImageId(const CursorImage& image);
