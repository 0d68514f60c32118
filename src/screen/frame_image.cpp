#include "screen/frame_image.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint64_t bytesPerPixel = 4;

bool fitsIn32Bits(uint64_t width, uint64_t height) {
    return width * height * bytesPerPixel <= std::numeric_limits<uint32_t>::max();
}

}  // namespace

std::optional<CaptureArea> usableCaptureArea(const CaptureArea& area) {
    if (!area.inForce()) return std::nullopt;
    const int64_t width = static_cast<int64_t>(area.right) - area.left;
    const int64_t height = static_cast<int64_t>(area.bottom) - area.top;
    if (width < 2 || height < 2) return std::nullopt;
    if (!fitsIn32Bits(static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return std::nullopt;
    return area;
}

VideoSize videoSizeFor(const std::optional<CaptureArea>& area, uint32_t desktopWidth, uint32_t desktopHeight) {
    if (!area) return {desktopWidth, desktopHeight};
    return {static_cast<uint32_t>(static_cast<int64_t>(area->right) - area->left),
            static_cast<uint32_t>(static_cast<int64_t>(area->bottom) - area->top)};
}

namespace {

// Copies the part of the desktop inside both the area and `clip` (desktop pixels) into frameImage,
// which has the video size.
void copyDesktopPart(std::vector<uint8_t>& frameImage, const uint8_t* pixels, uint32_t rowPitch, uint32_t desktopWidth,
                     uint32_t desktopHeight, const std::optional<CaptureArea>& area, VideoSize size, const ImageRect& clip) {
    // A row pitch below width * 4 means the mapping holds fewer pixels per row than claimed.
    const int64_t readableWidth = std::min<int64_t>(desktopWidth, rowPitch / bytesPerPixel);
    const int64_t originX = area ? area->left : 0;
    const int64_t originY = area ? area->top : 0;
    const int64_t firstColumn = std::max<int64_t>({originX, 0, clip.left});
    const int64_t endColumn = std::min<int64_t>({originX + size.width, readableWidth, clip.right});
    const int64_t firstRow = std::max<int64_t>({originY, 0, clip.top});
    const int64_t endRow = std::min<int64_t>({originY + size.height, desktopHeight, clip.bottom});
    if (endColumn <= firstColumn || endRow <= firstRow) return;

    const size_t rowBytes = static_cast<size_t>(size.width) * bytesPerPixel;
    const size_t copyBytes = static_cast<size_t>(endColumn - firstColumn) * bytesPerPixel;
    const size_t columnOffset = static_cast<size_t>(firstColumn - originX) * bytesPerPixel;
    const uint8_t* source = pixels + static_cast<size_t>(firstRow) * rowPitch + static_cast<size_t>(firstColumn) * bytesPerPixel;
    for (int64_t y = firstRow; y < endRow; ++y) {
        // The area's top row is the last row in memory.
        const size_t memoryRow = size.height - 1 - static_cast<size_t>(y - originY);
        std::memcpy(frameImage.data() + memoryRow * rowBytes + columnOffset, source, copyBytes);
        source += rowPitch;
    }
}

constexpr ImageRect everywhere{std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()};

}  // namespace

bool storeFrameImage(std::vector<uint8_t>& frameImage, const uint8_t* pixels, uint32_t rowPitch,
                     uint32_t desktopWidth, uint32_t desktopHeight, const std::optional<CaptureArea>& area) {
    const VideoSize size = videoSizeFor(area, desktopWidth, desktopHeight);
    if (size.width == 0 || size.height == 0 || !fitsIn32Bits(size.width, size.height)) return false;
    frameImage.resize(static_cast<size_t>(size.width) * size.height * bytesPerPixel);
    if (pixels != nullptr) copyDesktopPart(frameImage, pixels, rowPitch, desktopWidth, desktopHeight, area, size, everywhere);
    return true;
}

void storeFrameRegion(std::vector<uint8_t>& frameImage, const uint8_t* pixels, uint32_t rowPitch, uint32_t desktopWidth,
                      uint32_t desktopHeight, const std::optional<CaptureArea>& area, const ImageRect& changed) {
    const VideoSize size = videoSizeFor(area, desktopWidth, desktopHeight);
    if (pixels == nullptr || frameImage.size() != static_cast<size_t>(size.width) * size.height * bytesPerPixel) return;
    copyDesktopPart(frameImage, pixels, rowPitch, desktopWidth, desktopHeight, area, size, changed);
}

ImageRect videoRectFor(const ImageRect& changed, const std::optional<CaptureArea>& area, VideoSize size) {
    const int64_t originX = area ? area->left : 0;
    const int64_t originY = area ? area->top : 0;
    const auto clamp = [](int64_t value, int64_t limit) { return static_cast<int32_t>(std::clamp<int64_t>(value, 0, limit)); };
    return {clamp(changed.left - originX, size.width), clamp(changed.top - originY, size.height),
            clamp(changed.right - originX, size.width), clamp(changed.bottom - originY, size.height)};
}
