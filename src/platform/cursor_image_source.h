#pragma once

#include <memory>

#include "input/cursor_pixels.h"

// The pointer's image as the display shows it, for the recording's cursor images. Used by one
// thread, except wake().
class CursorImageSource {
public:
    virtual ~CursorImageSource() = default;

    // False when the display cannot say (no display, no XFixes): the source then never changes.
    virtual bool available() const = 0;

    // Blocks until the cursor may have changed, wake() is called or `timeoutMs` passes (-1: no
    // limit); true when it may have changed.
    virtual bool waitForChange(int timeoutMs) = 0;

    // Reads the cursor now in force: true with `image` filled, or with `hidden` set when the
    // pointer is not shown; false when it cannot be read.
    virtual bool read(CursorImage& image, bool& hidden) = 0;

    // Ends a waitForChange() in progress; from any thread.
    virtual void wake() = 0;
};

// The platform's source; never null.
std::unique_ptr<CursorImageSource> openCursorImageSource();
