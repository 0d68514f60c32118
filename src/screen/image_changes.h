#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/image_rect.h"

// What of an image changed: all of it, or a short list of rectangles inside it. The list stays
// short on purpose: past maxRects rectangles they become their bounding box, and changes that
// cover half the image or more become the whole image, which one copy handles as fast and with
// no bookkeeping.
class ImageChanges {
public:
    static constexpr size_t maxRects = 16;

    // All of an image of width x height changed.
    ImageChanges(uint32_t width, uint32_t height) : width(width), height(height) {}

    bool whole() const { return everything; }
    bool none() const { return !everything && list.empty(); }
    const std::vector<ImageRect>& rects() const { return list; }

    void clear() {
        everything = false;
        list.clear();
    }
    void addWhole() {
        everything = true;
        list.clear();
    }
    // Clipped to the image; an empty part adds nothing.
    void add(const ImageRect& rect);
    void add(const ImageChanges& other);

private:
    uint32_t width;
    uint32_t height;
    bool everything = true;
    std::vector<ImageRect> list;
};
