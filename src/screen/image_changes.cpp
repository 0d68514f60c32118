#include "screen/image_changes.h"

#include <algorithm>

void ImageChanges::add(const ImageRect& rect) {
    if (everything) return;
    const ImageRect clipped{std::max<int32_t>(rect.left, 0), std::max<int32_t>(rect.top, 0),
                            static_cast<int32_t>(std::min<int64_t>(rect.right, width)),
                            static_cast<int32_t>(std::min<int64_t>(rect.bottom, height))};
    if (clipped.empty()) return;
    list.push_back(clipped);
    int64_t covered = 0;
    for (const ImageRect& r : list) covered += r.area();
    if (list.size() > maxRects) {
        ImageRect box = list.front();
        for (const ImageRect& r : list) {
            box = {std::min(box.left, r.left), std::min(box.top, r.top), std::max(box.right, r.right), std::max(box.bottom, r.bottom)};
        }
        list.assign(1, box);
        covered = box.area();
    }
    if (2 * covered >= static_cast<int64_t>(width) * height) addWhole();
}

void ImageChanges::add(const ImageChanges& other) {
    if (other.everything) {
        addWhole();
        return;
    }
    for (const ImageRect& rect : other.list) add(rect);
}
