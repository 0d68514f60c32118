#pragma once

#include <cstdint>
#include <vector>

// A new pointer shape as desktop duplication hands it out, and when the system showed it.
struct PointerShape {
    // The duplication's own codes for the three layouts of `pixels`.
    enum class Kind : uint32_t {
        monochrome = 1,    // 1 bit a pixel: the AND rows, then as many XOR rows
        colour = 2,        // 32-bit BGRA with straight alpha
        maskedColour = 4,  // 32-bit BGR, the fourth byte 0 (shown as it is) or 0xFF (XORed with the screen)
    };
    Kind kind = Kind::colour;
    int32_t width = 0;
    int32_t height = 0;  // of the image: a monochrome shape's pixels hold twice as many rows
    int32_t pitch = 0;   // bytes a row
    int32_t hotX = 0;
    int32_t hotY = 0;
    int64_t time = 0;  // wall-clock ms when the system drew it
    std::vector<uint8_t> pixels;
};
