#include "input/cursor_pixels.h"

#include <algorithm>
#include <cstdio>

bool CursorImage::operator==(const CursorImage& other) const {
    return width == other.width && height == other.height && hotX == other.hotX && hotY == other.hotY &&
           rgba == other.rgba;
}

std::vector<uint8_t> straightRgbaFromPremultipliedArgb(const uint32_t* argb, size_t count) {
    std::vector<uint8_t> rgba(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = argb[i];
        const uint32_t alpha = pixel >> 24;
        uint8_t* out = &rgba[i * 4];
        out[3] = static_cast<uint8_t>(alpha);
        if (alpha == 0) continue;  // colour under no coverage is meaningless: leave it black
        for (int channel = 0; channel < 3; ++channel) {
            const uint32_t premultiplied = (pixel >> (16 - 8 * channel)) & 0xff;
            out[channel] = static_cast<uint8_t>(std::min<uint32_t>(255, (premultiplied * 255 + alpha / 2) / alpha));
        }
    }
    return rgba;
}

bool fullyTransparent(const std::vector<uint8_t>& rgba) {
    for (size_t i = 3; i < rgba.size(); i += 4) {
        if (rgba[i] != 0) return false;
    }
    return true;
}

namespace {

bool maskBit(const uint8_t* mask, size_t stride, int32_t x, int32_t y) {
    return (mask[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8)) & 1;
}

void setPixel(std::vector<uint8_t>& rgba, int32_t width, int32_t x, int32_t y, uint8_t grey, uint8_t alpha) {
    uint8_t* out = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    out[0] = out[1] = out[2] = grey;
    out[3] = alpha;
}

CursorImage blankImage(int32_t width, int32_t height) {
    CursorImage image;
    image.width = width;
    image.height = height;
    image.rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    return image;
}

// Pixels that change with the screen beneath become black, ringed by white where the image is
// transparent, so that they stay visible on any background.
void outlineScreenDependentPixels(CursorImage& image, const std::vector<bool>& dependent) {
    const int32_t width = image.width;
    const int32_t height = image.height;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (dependent[static_cast<size_t>(y) * width + x]) setPixel(image.rgba, width, x, y, 0, 255);
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (dependent[static_cast<size_t>(y) * width + x]) continue;
            if (image.rgba[(static_cast<size_t>(y) * width + x) * 4 + 3] != 0) continue;
            bool beside = false;
            for (int32_t dy = -1; dy <= 1 && !beside; ++dy) {
                for (int32_t dx = -1; dx <= 1 && !beside; ++dx) {
                    const int32_t nx = x + dx;
                    const int32_t ny = y + dy;
                    beside = nx >= 0 && ny >= 0 && nx < width && ny < height && dependent[static_cast<size_t>(ny) * width + nx];
                }
            }
            if (beside) setPixel(image.rgba, width, x, y, 255, 255);
        }
    }
    image.outlined = true;
}

// AND rows first, then as many XOR rows, `stride` bytes each.
CursorImage monochromeCursor(int32_t width, int32_t height, const uint8_t* mask, size_t stride) {
    CursorImage image = blankImage(width, height);
    std::vector<bool> inverting(static_cast<size_t>(width) * height, false);
    bool anyInverting = false;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool andBit = maskBit(mask, stride, x, y);
            const bool xorBit = maskBit(mask, stride, x, y + height);
            if (!andBit) {
                setPixel(image.rgba, width, x, y, xorBit ? 255 : 0, 255);
            } else if (xorBit) {
                inverting[static_cast<size_t>(y) * width + x] = true;
                anyInverting = true;
            }
        }
    }
    if (anyInverting) outlineScreenDependentPixels(image, inverting);
    return image;
}

// 32-bit BGRA rows of `stride` bytes; `alphaOf` gives each pixel's alpha.
template <typename AlphaOf>
CursorImage colourCursor(int32_t width, int32_t height, const uint8_t* colour, size_t stride, AlphaOf alphaOf) {
    CursorImage image = blankImage(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* in = &colour[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4];
            uint8_t* out = &image.rgba[(static_cast<size_t>(y) * width + x) * 4];
            out[3] = alphaOf(in, x, y);
            if (out[3] == 0) continue;  // colour under no coverage is meaningless: leave it black
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return image;
}

}  // namespace

CursorImage cursorFromWindowsBitmaps(int32_t width, int32_t height, const uint8_t* colour, const uint8_t* mask) {
    if (width <= 0 || height <= 0 || mask == nullptr) return CursorImage{};
    const size_t stride = static_cast<size_t>((width + 31) / 32) * 4;
    if (colour == nullptr) return monochromeCursor(width, height, mask, stride);
    bool anyAlpha = false;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) anyAlpha = anyAlpha || colour[i * 4 + 3] != 0;
    return colourCursor(width, height, colour, static_cast<size_t>(width) * 4, [&](const uint8_t* in, int32_t x, int32_t y) {
        return anyAlpha ? in[3] : static_cast<uint8_t>(maskBit(mask, stride, x, y) ? 0 : 255);
    });
}

CursorImage cursorFromPointerShape(const PointerShape& shape) {
    const int32_t width = shape.width;
    const int32_t height = shape.height;
    if (width <= 0 || height <= 0 || shape.pitch <= 0) return CursorImage{};
    const size_t pitch = static_cast<size_t>(shape.pitch);
    const size_t rows = shape.kind == PointerShape::Kind::monochrome ? static_cast<size_t>(height) * 2 : static_cast<size_t>(height);
    const size_t rowBytes = shape.kind == PointerShape::Kind::monochrome ? static_cast<size_t>(width + 7) / 8 : static_cast<size_t>(width) * 4;
    // A shape whose rows do not fit its pixels is not drawn at all rather than read past them.
    if (pitch < rowBytes || shape.pixels.size() < pitch * (rows - 1) + rowBytes) return CursorImage{};

    CursorImage image;
    switch (shape.kind) {
        case PointerShape::Kind::monochrome: image = monochromeCursor(width, height, shape.pixels.data(), pitch); break;
        case PointerShape::Kind::colour:
            image = colourCursor(width, height, shape.pixels.data(), pitch, [](const uint8_t* in, int32_t, int32_t) { return in[3]; });
            break;
        case PointerShape::Kind::maskedColour: {
            std::vector<bool> xored(static_cast<size_t>(width) * height, false);
            bool anyXored = false;
            image = colourCursor(width, height, shape.pixels.data(), pitch, [&](const uint8_t* in, int32_t x, int32_t y) {
                if (in[3] == 0) return uint8_t{255};
                // XORing black leaves the screen as it is; any other colour depends on it.
                const bool dependent = (in[0] | in[1] | in[2]) != 0;
                xored[static_cast<size_t>(y) * width + x] = dependent;
                anyXored = anyXored || dependent;
                return uint8_t{0};
            });
            if (anyXored) outlineScreenDependentPixels(image, xored);
            break;
        }
        default: return CursorImage{};
    }
    image.hotX = shape.hotX;
    image.hotY = shape.hotY;
    return image;
}

std::string cursorImageId(const CursorImage& image) {
    // FNV-1a, 64 bits: stable across platforms and runs, and plenty for the few dozen images a
    // recording shows.
    uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    for (const int32_t value : {image.width, image.height, image.hotX, image.hotY}) {
        for (int shift = 0; shift < 32; shift += 8) mix(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
    }
    for (const uint8_t byte : image.rgba) mix(byte);
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
