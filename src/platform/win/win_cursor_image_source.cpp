#include <windows.h>

#include <vector>

#include "platform/cursor_image_source.h"
#include "platform/win/standard_cursors.h"

namespace {

// How often the cursor is looked at: Windows sends no notice of a cursor change to a thread
// without a window, and GetCursorInfo costs next to nothing.
constexpr DWORD lookPeriodMs = 16;

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

class WinCursorImageSource final : public CursorImageSource {
public:
    WinCursorImageSource() : wakeEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~WinCursorImageSource() override {
        if (wakeEvent != nullptr) CloseHandle(wakeEvent);
    }

    bool available() const override { return wakeEvent != nullptr; }

    bool waitForChange(int timeoutMs) override {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            CURSORINFO cursor{};
            cursor.cbSize = sizeof(cursor);
            if (GetCursorInfo(&cursor) && (cursor.hCursor != lastCursor || cursor.flags != lastFlags)) return true;
            DWORD wait = lookPeriodMs;
            if (timeoutMs >= 0) {
                const ULONGLONG spent = GetTickCount64() - start;
                if (spent >= static_cast<ULONGLONG>(timeoutMs)) return false;
                wait = static_cast<DWORD>(std::min<ULONGLONG>(wait, static_cast<ULONGLONG>(timeoutMs) - spent));
            }
            if (WaitForSingleObject(wakeEvent, wait) == WAIT_OBJECT_0) return false;
        }
    }

    bool read(CursorImage& image, bool& hidden) override {
        CURSORINFO cursor{};
        cursor.cbSize = sizeof(cursor);
        if (!GetCursorInfo(&cursor)) return false;
        lastCursor = cursor.hCursor;
        lastFlags = cursor.flags;
        hidden = (cursor.flags & CURSOR_SHOWING) == 0 || cursor.hCursor == nullptr;
        if (hidden) return true;

        const IconBitmaps icon(cursor.hCursor);
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
        // The cursor's bitmaps come at the size the system draws them for this DPI.
        image.scale = GetDeviceCaps(dc.get(), LOGPIXELSX) / 96.0;
        if (const char* name = standardCursorNameOf(reinterpret_cast<std::uintptr_t>(cursor.hCursor))) {
            image.standardName = name;
        }
        return true;
    }

    void wake() override {
        if (wakeEvent != nullptr) SetEvent(wakeEvent);
    }

private:
    HANDLE wakeEvent;
    HCURSOR lastCursor = nullptr;
    DWORD lastFlags = 0;
};

}  // namespace

std::unique_ptr<CursorImageSource> openCursorImageSource() { return std::make_unique<WinCursorImageSource>(); }
