#pragma once

#include <cstdint>
#include <vector>

#include "platform/image_rect.h"

// Frames that need work before they can be stored: a rotated display's frames keep the display's
// unrotated orientation, and some pixel formats are not the 4-byte B8G8R8A8 the encoder takes.
// Rotations are clockwise degrees (0, 90, 180, 270); formats are DXGI_FORMAT codes.

// Formats stored as they are: B8G8R8A8 and B8G8R8X8 (plain and sRGB), and 0 (not told).
bool isBgra8Format(uint32_t format);
// Formats the recorder can turn into B8G8R8A8: the above, R8G8B8A8 and R16G16B16A16_FLOAT (an
// HDR desktop's linear scRGB, clipped to the SDR range).
bool isConvertibleFormat(uint32_t format);

// The desktop's width and height for a frame of the given size.
void uprightSize(uint32_t frameWidth, uint32_t frameHeight, uint32_t rotation, uint32_t& width, uint32_t& height);

// A rectangle of the frame (its own pixels) as it lies on the upright desktop.
ImageRect uprightRect(const ImageRect& rect, uint32_t frameWidth, uint32_t frameHeight, uint32_t rotation);

// Converts the part `rect` of a mapped frame (rows top to bottom, rowPitch bytes apart) into
// `upright`: the desktop as the user sees it, B8G8R8A8, rows of exactly width * 4 bytes, which
// must already have the desktop's size. Parts outside the frame or beyond the row pitch are not
// read.
void storeUpright(std::vector<uint8_t>& upright, const uint8_t* pixels, uint32_t rowPitch, uint32_t frameWidth,
                  uint32_t frameHeight, uint32_t format, uint32_t rotation, const ImageRect& rect);
