#include "screen/upright_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t formatR16G16B16A16Float = 10;
constexpr uint32_t formatR8G8B8A8 = 28;
constexpr uint32_t formatR8G8B8A8Srgb = 29;
constexpr uint32_t formatB8G8R8A8 = 87;
constexpr uint32_t formatB8G8R8X8 = 88;
constexpr uint32_t formatB8G8R8A8Srgb = 91;
constexpr uint32_t formatB8G8R8X8Srgb = 93;

uint32_t bytesPerPixel(uint32_t format) { return format == formatR16G16B16A16Float ? 8 : 4; }

float halfToFloat(uint16_t half) {
    const int exponent = (half >> 10) & 0x1F;
    const int mantissa = half & 0x3FF;
    float value = 0;
    if (exponent == 0) {
        value = std::ldexp(static_cast<float>(mantissa), -24);
    } else if (exponent == 31) {
        value = mantissa == 0 ? INFINITY : 0.0f;  // NaN shows as black
    } else {
        value = std::ldexp(static_cast<float>(mantissa + 1024), exponent - 25);
    }
    return (half & 0x8000) != 0 ? -value : value;
}

// Linear scRGB (1.0 = SDR white) to 8-bit sRGB, one entry per half-float bit pattern.
const std::array<uint8_t, 65536>& halfToSrgb8() {
    static const std::array<uint8_t, 65536> table = [] {
        std::array<uint8_t, 65536> t{};
        for (uint32_t i = 0; i < t.size(); ++i) {
            const float linear = std::clamp(halfToFloat(static_cast<uint16_t>(i)), 0.0f, 1.0f);
            const float encoded = linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
            t[i] = static_cast<uint8_t>(std::lround(std::clamp(encoded, 0.0f, 1.0f) * 255.0f));
        }
        return t;
    }();
    return table;
}

}  // namespace

bool isBgra8Format(uint32_t format) {
    return format == 0 || format == formatB8G8R8A8 || format == formatB8G8R8X8 || format == formatB8G8R8A8Srgb ||
           format == formatB8G8R8X8Srgb;
}

bool isConvertibleFormat(uint32_t format) {
    return isBgra8Format(format) || format == formatR8G8B8A8 || format == formatR8G8B8A8Srgb || format == formatR16G16B16A16Float;
}

void uprightSize(uint32_t frameWidth, uint32_t frameHeight, uint32_t rotation, uint32_t& width, uint32_t& height) {
    const bool turned = rotation == 90 || rotation == 270;
    width = turned ? frameHeight : frameWidth;
    height = turned ? frameWidth : frameHeight;
}

ImageRect uprightRect(const ImageRect& r, uint32_t frameWidth, uint32_t frameHeight, uint32_t rotation) {
    const auto w = static_cast<int32_t>(frameWidth);
    const auto h = static_cast<int32_t>(frameHeight);
    switch (rotation) {
        case 90: return {h - r.bottom, r.left, h - r.top, r.right};
        case 180: return {w - r.right, h - r.bottom, w - r.left, h - r.top};
        case 270: return {r.top, w - r.right, r.bottom, w - r.left};
        default: return r;
    }
}

void storeUpright(std::vector<uint8_t>& upright, const uint8_t* pixels, uint32_t rowPitch, uint32_t frameWidth,
                  uint32_t frameHeight, uint32_t format, uint32_t rotation, const ImageRect& rect) {
    uint32_t width = 0;
    uint32_t height = 0;
    uprightSize(frameWidth, frameHeight, rotation, width, height);
    const uint32_t pixelBytes = bytesPerPixel(format);
    if (pixels == nullptr || !isConvertibleFormat(format) || upright.size() != static_cast<size_t>(width) * height * 4) return;
    const int64_t readableWidth = std::min<int64_t>(frameWidth, rowPitch / pixelBytes);
    const int64_t left = std::max<int64_t>(rect.left, 0);
    const int64_t top = std::max<int64_t>(rect.top, 0);
    const int64_t right = std::min<int64_t>(rect.right, readableWidth);
    const int64_t bottom = std::min<int64_t>(rect.bottom, frameHeight);
    if (right <= left || bottom <= top) return;
    const std::array<uint8_t, 65536>* srgb = format == formatR16G16B16A16Float ? &halfToSrgb8() : nullptr;
    const bool swapRedBlue = format == formatR8G8B8A8 || format == formatR8G8B8A8Srgb;

    for (int64_t y = top; y < bottom; ++y) {
        const uint8_t* source = pixels + static_cast<size_t>(y) * rowPitch + static_cast<size_t>(left) * pixelBytes;
        for (int64_t x = left; x < right; ++x, source += pixelBytes) {
            // Where frame pixel (x, y) lands on the upright desktop.
            int64_t ux = x;
            int64_t uy = y;
            switch (rotation) {
                case 90: ux = width - 1 - y, uy = x; break;
                case 180: ux = width - 1 - x, uy = height - 1 - y; break;
                case 270: ux = y, uy = height - 1 - x; break;
                default: break;
            }
            uint8_t* target = upright.data() + (static_cast<size_t>(uy) * width + static_cast<size_t>(ux)) * 4;
            if (srgb != nullptr) {
                uint16_t channel[3];
                std::memcpy(channel, source, sizeof channel);
                target[0] = (*srgb)[channel[2]];
                target[1] = (*srgb)[channel[1]];
                target[2] = (*srgb)[channel[0]];
                target[3] = 255;
            } else if (swapRedBlue) {
                target[0] = source[2], target[1] = source[1], target[2] = source[0], target[3] = source[3];
            } else {
                std::memcpy(target, source, 4);
            }
        }
    }
}
