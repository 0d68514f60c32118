#include "platform/win/cursor_bitmaps.h"

#include <algorithm>
#include <vector>

namespace {

// The bitmaps GetIconInfo creates, deleted when this goes out of scope.
class IconBitmaps {
public:
    explicit IconBitmaps(HICON icon) : valid(GetIconInfo(icon, &info) != 0) {}
    ~IconBitmaps() {
        if (!valid) return;
        if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    }
    IconBitmaps(const IconBitmaps&) = delete;
    IconBitmaps& operator=(const IconBitmaps&) = delete;

    bool ok() const { return valid && info.hbmMask != nullptr; }
    const ICONINFO& get() const { return info; }

private:
    ICONINFO info{};
    bool valid;
};

class ScreenDc {
public:
    ScreenDc() : dc(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc != nullptr) ReleaseDC(nullptr, dc);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc; }

private:
    HDC dc;
};

// A memory DC with a 32-bit top-down bitmap of its own selected into it.
class FrameCanvas {
public:
    FrameCanvas(HDC screen, int32_t width, int32_t height) : dc(CreateCompatibleDC(screen)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (dc != nullptr && bitmap != nullptr) previous = SelectObject(dc, bitmap);
        size = static_cast<size_t>(width) * height * 4;
    }
    ~FrameCanvas() {
        if (previous != nullptr) SelectObject(dc, previous);
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (dc != nullptr) DeleteDC(dc);
    }
    FrameCanvas(const FrameCanvas&) = delete;
    FrameCanvas& operator=(const FrameCanvas&) = delete;

    // The frame `step` drawn on grey, where black, white, inverted and transparent pixels all
    // differ; empty when it cannot be drawn.
    std::vector<uint8_t> draw(HCURSOR cursor, int32_t width, int32_t height, UINT step) {
        if (previous == nullptr || bits == nullptr) return {};
        auto* pixels = static_cast<uint8_t*>(bits);
        std::fill(pixels, pixels + size, uint8_t{0x5a});
        // DrawIconEx draws the frame asked for of an animated cursor and ignores the index for
        // any other.
        if (!DrawIconEx(dc, 0, 0, cursor, width, height, step, nullptr, DI_NORMAL)) return {};
        GdiFlush();
        return std::vector<uint8_t>(pixels, pixels + size);
    }

private:
    HDC dc;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    void* bits = nullptr;
    size_t size = 0;
};

// A bitmap's pixels top-down at `bitsPerPixel` (32 or 1), rows padded to 32 bits.
bool bitmapBits(HDC dc, HBITMAP bitmap, int32_t width, int32_t height, WORD bitsPerPixel, std::vector<uint8_t>& bits) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;  // top-down
    info.header.biPlanes = 1;
    info.header.biBitCount = bitsPerPixel;
    info.header.biCompression = BI_RGB;
    const size_t stride = ((static_cast<size_t>(width) * bitsPerPixel + 31) / 32) * 4;
    bits.assign(stride * static_cast<size_t>(height), 0);
    return GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(), reinterpret_cast<BITMAPINFO*>(&info),
                     DIB_RGB_COLORS) == height;
}

}  // namespace

bool readCursorImage(HCURSOR cursor, CursorImage& image) {
    const IconBitmaps icon(cursor);
    if (!icon.ok()) return false;
    BITMAP mask{};
    if (GetObjectW(icon.get().hbmMask, sizeof(mask), &mask) == 0) return false;
    const bool colour = icon.get().hbmColor != nullptr;
    const int32_t width = mask.bmWidth;
    const int32_t height = colour ? mask.bmHeight : mask.bmHeight / 2;
    if (width <= 0 || height <= 0) return false;

    const ScreenDc dc;
    std::vector<uint8_t> maskBits;
    std::vector<uint8_t> colourBits;
    if (!bitmapBits(dc.get(), icon.get().hbmMask, width, mask.bmHeight, 1, maskBits)) return false;
    if (colour && !bitmapBits(dc.get(), icon.get().hbmColor, width, height, 32, colourBits)) return false;

    image = cursorFromWindowsBitmaps(width, height, colour ? colourBits.data() : nullptr, maskBits.data());
    image.hotX = static_cast<int32_t>(icon.get().xHotspot);
    image.hotY = static_cast<int32_t>(icon.get().yHotspot);
    // The cursor's bitmaps come at the size the system draws them for its DPI, which a thread
    // that declared no awareness is told is 96.
    image.scale = GetDeviceCaps(dc.get(), LOGPIXELSX) / 96.0;
    return true;
}

bool cursorIsAnimated(HCURSOR cursor, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    const ScreenDc screen;
    FrameCanvas canvas(screen.get(), width, height);
    const std::vector<uint8_t> first = canvas.draw(cursor, width, height, 0);
    const std::vector<uint8_t> second = canvas.draw(cursor, width, height, 1);
    return !first.empty() && !second.empty() && first != second;
}
