#include "platform/linux/x_cursor_theme.h"

#include "platform/linux/x_cursor_names.h"

namespace {

bool sameImage(const XFixesCursorImage& shown, const XcursorImage& themed) {
    if (shown.width != themed.width || shown.height != themed.height || shown.xhot != themed.xhot ||
        shown.yhot != themed.yhot) {
        return false;
    }
    const size_t count = static_cast<size_t>(shown.width) * shown.height;
    for (size_t i = 0; i < count; ++i) {
        // XFixes hands out 32-bit ARGB in longs.
        if ((shown.pixels[i] & 0xffffffffUL) != themed.pixels[i]) return false;
    }
    return true;
}

}  // namespace

XCursorTheme::XCursorTheme(Display* display) : display(display) {
    if (display == nullptr) return;
    for (int i = 0; i < standardCursorCount; ++i) {
        for (const char* xName : xCursorNamesOf(standardCursorNames[i])) {
            themeImages[static_cast<size_t>(i)] = load(xName);
            if (themeImages[static_cast<size_t>(i)]) break;
        }
    }
}

const char* XCursorTheme::standardNameOf(const XFixesCursorImage& shown) const {
    for (int i = 0; i < standardCursorCount; ++i) {
        const XcursorImages* frames = framesOf(i);
        if (frames == nullptr) continue;
        for (int frame = 0; frame < frames->nimage; ++frame) {
            if (sameImage(shown, *frames->images[frame])) return standardCursorNames[i];
        }
    }
    return nullptr;
}

ThemeImagesPtr XCursorTheme::load(const char* xName) const {
    if (display == nullptr) return nullptr;
    return ThemeImagesPtr(XcursorLibraryLoadImages(xName, XcursorGetTheme(display), XcursorGetDefaultSize(display)));
}
