#include "platform/cursor_source.h"

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <array>
#include <memory>

#include "platform/linux/x_cursor_names.h"

// X.h names a query class CursorShape; that name is ours here.
#undef CursorShape

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};
using CursorImagePtr = std::unique_ptr<XFixesCursorImage, XFreeDeleter>;

struct XcursorImagesDeleter {
    void operator()(XcursorImages* images) const { XcursorImagesDestroy(images); }
};
using ThemeImagesPtr = std::unique_ptr<XcursorImages, XcursorImagesDeleter>;

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

// Names the cursor on screen from XFixes and measures the standard cursors in the active
// Xcursor theme at the size the display uses. Xcursor-created cursors carry the name the
// application asked for; animated theme cursors come without one and are known by their image.
class XCursorSource final : public CursorSource {
public:
    XCursorSource() : display(XOpenDisplay(nullptr)) {
        if (!display) return;
        int eventBase = 0;
        int errorBase = 0;
        hasXFixes = XFixesQueryExtension(display.get(), &eventBase, &errorBase) != 0;
        colorCursors = XcursorSupportsARGB(display.get()) != 0;
        loadThemeImages();
    }

    const char* currentCursorName() override {
        if (!display || !hasXFixes) return unknownCursorName;
        const CursorImagePtr image(XFixesGetCursorImage(display.get()));
        if (!image) return unknownCursorName;
        // A serial names one cursor for the life of the server.
        if (image->cursor_serial != lastSerial || lastName == nullptr) {
            const char* name = nullptr;
            if (image->name != nullptr && image->name[0] != '\0') {
                name = standardNameForXCursor(image->name);
            } else {
                name = matchThemeImage(*image);
            }
            lastSerial = image->cursor_serial;
            lastName = name != nullptr ? name : unknownCursorName;
        }
        return lastName;
    }

    std::vector<NamedCursorShape> measureStandardCursors() override {
        std::vector<NamedCursorShape> shapes;
        for (int i = 0; i < standardCursorCount; ++i) {
            if (!themeImages[i] || themeImages[i]->nimage < 1) continue;
            const XcursorImage& first = *themeImages[i]->images[0];
            CursorShape shape;
            shape.x = static_cast<int32_t>(first.xhot);
            shape.y = static_cast<int32_t>(first.yhot);
            shape.width = static_cast<int32_t>(first.width);
            shape.height = static_cast<int32_t>(first.height);
            shape.isColor = colorCursors;
            shapes.push_back({standardCursorNames[i], shape});
        }
        return shapes;
    }

private:
    void loadThemeImages() {
        const char* theme = XcursorGetTheme(display.get());
        const int size = XcursorGetDefaultSize(display.get());
        for (int i = 0; i < standardCursorCount; ++i) {
            for (const char* xName : xCursorNamesOf(standardCursorNames[i])) {
                themeImages[i].reset(XcursorLibraryLoadImages(xName, theme, size));
                if (themeImages[i]) break;
            }
        }
    }

    const char* matchThemeImage(const XFixesCursorImage& shown) const {
        for (int i = 0; i < standardCursorCount; ++i) {
            if (!themeImages[i]) continue;
            for (int frame = 0; frame < themeImages[i]->nimage; ++frame) {
                if (sameImage(shown, *themeImages[i]->images[frame])) return standardCursorNames[i];
            }
        }
        return nullptr;
    }

    DisplayPtr display;
    bool hasXFixes = false;
    bool colorCursors = false;
    std::array<ThemeImagesPtr, standardCursorCount> themeImages;
    unsigned long lastSerial = 0;
    const char* lastName = nullptr;
};

}  // namespace

std::unique_ptr<CursorSource> openCursorSource() { return std::make_unique<XCursorSource>(); }
