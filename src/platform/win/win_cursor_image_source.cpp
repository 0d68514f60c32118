#include <windows.h>

#include <algorithm>

#include "platform/cursor_image_source.h"
#include "platform/win/cursor_bitmaps.h"
#include "platform/win/standard_cursors.h"

namespace {

// How often the cursor is looked at: Windows sends no notice of a cursor change to a thread
// without a window, and GetCursorInfo costs next to nothing.
constexpr DWORD lookPeriodMs = 16;

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

        if (!readCursorImage(cursor.hCursor, image)) return false;
        // GetIconInfo gives an animated cursor's first frame only; the recorder then takes the
        // frames from the screen track's duplication.
        image.animated = cursorIsAnimated(cursor.hCursor, image.width, image.height);
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
