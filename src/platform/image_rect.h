#pragma once

#include <cstdint>

// A rectangle of an image in pixels from its top-left corner, right and bottom exclusive.
struct ImageRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    int64_t area() const { return empty() ? 0 : static_cast<int64_t>(right - left) * (bottom - top); }
};
