#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/image_rect.h"
#include "recording_settings.h"

// The platform-free core of the screen track: which part of the desktop becomes the video, and
// the crop-and-flip of one mapped desktop image into the bottom-up image the encoder receives.

struct VideoSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The capture area as the recorder uses it: the area when it is in force and describes an image
// the encoder can take (at least 2x2 pixels, at most 4 GiB of pixels), otherwise none, which
// records the whole output. Parts of a usable area outside the desktop stay black.
std::optional<CaptureArea> usableCaptureArea(const CaptureArea& area);

// The video size: the area's size with an area, else the desktop's.
VideoSize videoSizeFor(const std::optional<CaptureArea>& area, uint32_t desktopWidth, uint32_t desktopHeight);

// Resizes frameImage to the video size (4 bytes per pixel, rows without gaps, bottom row first)
// and copies into it the part of the desktop image that the area covers. Only the intersection of
// the area with the desktop is read, so nothing outside the mapped rows or beyond
// min(width, rowPitch / 4) pixels of a row is touched; rows and columns outside the desktop keep
// what frameImage held (zeros when it grew). Returns false, leaving frameImage as it was, when the
// image size does not fit 32 bits or the desktop is empty.
bool storeFrameImage(std::vector<uint8_t>& frameImage, const uint8_t* pixels, uint32_t rowPitch,
                     uint32_t desktopWidth, uint32_t desktopHeight, const std::optional<CaptureArea>& area);

// Like storeFrameImage on a frameImage that already has the video size, but copies only the part
// of the desktop inside `changed` (desktop pixels); the rest of frameImage stays as it was.
void storeFrameRegion(std::vector<uint8_t>& frameImage, const uint8_t* pixels, uint32_t rowPitch, uint32_t desktopWidth,
                      uint32_t desktopHeight, const std::optional<CaptureArea>& area, const ImageRect& changed);

// The part of the video that a changed desktop rectangle covers, in video pixels, top row first
// (empty when it covers none).
ImageRect videoRectFor(const ImageRect& changed, const std::optional<CaptureArea>& area, VideoSize size);
