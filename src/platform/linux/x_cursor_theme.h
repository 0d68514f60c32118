#pragma once

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <array>
#include <memory>

// X.h names a query class CursorShape; that name is ours.
#undef CursorShape
#include "platform/cursor_source.h"

struct XcursorImagesDeleter {
    void operator()(XcursorImages* images) const { XcursorImagesDestroy(images); }
};
using ThemeImagesPtr = std::unique_ptr<XcursorImages, XcursorImagesDeleter>;

// The standard cursors of the display's Xcursor theme at the size the display uses. An animated
// theme cursor reaches XFixes frame by frame without a name; its frames are known by their image.
class XCursorTheme {
public:
    explicit XCursorTheme(Display* display);

    // The standard cursor one of whose frames is this image, or nullptr.
    const char* standardNameOf(const XFixesCursorImage& shown) const;
    // The frames of standard cursor `index` (of standardCursorNames), or nullptr.
    const XcursorImages* framesOf(int index) const { return themeImages[static_cast<size_t>(index)].get(); }
    // The frames of the theme's cursor of this X name, loaded now; null when it has none.
    ThemeImagesPtr load(const char* xName) const;

private:
    Display* display;
    std::array<ThemeImagesPtr, standardCursorCount> themeImages;
};
