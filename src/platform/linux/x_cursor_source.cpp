#include "platform/cursor_source.h"

#include <memory>

#include "platform/linux/x_cursor_names.h"
#include "platform/linux/x_cursor_theme.h"

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};
using CursorImagePtr = std::unique_ptr<XFixesCursorImage, XFreeDeleter>;

// Names the cursor on screen from XFixes and measures the standard cursors in the active
// Xcursor theme at the size the display uses. Xcursor-created cursors carry the name the
// application asked for; animated theme cursors come without one and are known by their image.
class XCursorSource final : public CursorSource {
public:
    XCursorSource() : display(XOpenDisplay(nullptr)), theme(display.get()) {
        if (!display) return;
        int eventBase = 0;
        int errorBase = 0;
        hasXFixes = XFixesQueryExtension(display.get(), &eventBase, &errorBase) != 0;
        colorCursors = XcursorSupportsARGB(display.get()) != 0;
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
                name = theme.standardNameOf(*image);
            }
            lastSerial = image->cursor_serial;
            lastName = name != nullptr ? name : unknownCursorName;
        }
        return lastName;
    }

    std::vector<NamedCursorShape> measureStandardCursors() override {
        std::vector<NamedCursorShape> shapes;
        for (int i = 0; i < standardCursorCount; ++i) {
            const XcursorImages* frames = theme.framesOf(i);
            if (frames == nullptr || frames->nimage < 1) continue;
            const XcursorImage& first = *frames->images[0];
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
    DisplayPtr display;
    XCursorTheme theme;
    bool hasXFixes = false;
    bool colorCursors = false;
    unsigned long lastSerial = 0;
    const char* lastName = nullptr;
};

}  // namespace

std::unique_ptr<CursorSource> openCursorSource() { return std::make_unique<XCursorSource>(); }
