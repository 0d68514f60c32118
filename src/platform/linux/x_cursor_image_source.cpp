#include "platform/cursor_image_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/x11_connection.h"
#include "platform/linux/x_cursor_names.h"
#include "platform/linux/x_cursor_theme.h"

namespace {

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};
using CursorImagePtr = std::unique_ptr<XFixesCursorImage, XFreeDeleter>;

// Both ends of a pipe that wakes the waiting thread.
class WakePipe {
public:
    WakePipe() {
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
    }
    ~WakePipe() {
        for (const int fd : fds) {
            if (fd >= 0) close(fd);
        }
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    int readEnd() const { return fds[0]; }
    void wake() const {
        const char byte = 1;
        if (fds[1] >= 0) (void)!write(fds[1], &byte, 1);
    }
    void drain() const {
        char bytes[64];
        while (fds[0] >= 0 && read(fds[0], bytes, sizeof bytes) > 0) {
        }
    }

private:
    int fds[2] = {-1, -1};
};

// XFixes tells of every change of the displayed cursor, so a still cursor costs nothing: the
// thread sleeps in poll() on the connection until the server writes an event.
class XCursorImageSource final : public CursorImageSource {
public:
    XCursorImageSource() : connection(X11Connection::open("cursor images")) {
        if (!connection) return;
        Display* display = connection->display();
        int errorBase = 0;
        if (XFixesQueryExtension(display, &eventBase, &errorBase) == 0) return;
        // A connection kept from an earlier recording may hold stale events.
        XSync(display, True);
        XFixesSelectCursorInput(display, DefaultRootWindow(display), XFixesDisplayCursorNotifyMask);
        selected = connection->sync();
        scale = displayScale(display);
    }

    ~XCursorImageSource() override {
        if (!selected || connection->lost()) return;
        XFixesSelectCursorInput(connection->display(), DefaultRootWindow(connection->display()), 0);
        XSync(connection->display(), True);
    }

    bool available() const override { return selected && !connection->lost(); }

    bool waitForChange(int timeoutMs) override {
        if (!available()) {
            pollfd wakeOnly{wakePipe.readEnd(), POLLIN, 0};
            poll(&wakeOnly, 1, timeoutMs);
            wakePipe.drain();
            return false;
        }
        Display* display = connection->display();
        if (takeCursorEvents(display)) return true;
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakePipe.readEnd(), POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) <= 0) return false;
        if (fds[1].revents != 0) wakePipe.drain();
        return (fds[0].revents & POLLIN) != 0 && takeCursorEvents(display);
    }

    bool read(CursorImage& image, bool& hidden) override {
        if (!available()) return false;
        const CursorImagePtr shown(XFixesGetCursorImage(connection->display()));
        if (!shown) return false;
        image = CursorImage{};
        image.width = shown->width;
        image.height = shown->height;
        image.hotX = shown->xhot;
        image.hotY = shown->yhot;
        image.scale = scale;
        // XFixes hands out 32-bit ARGB in longs.
        std::vector<uint32_t> argb(static_cast<size_t>(shown->width) * shown->height);
        for (size_t i = 0; i < argb.size(); ++i) argb[i] = static_cast<uint32_t>(shown->pixels[i] & 0xffffffffUL);
        image.rgba = straightRgbaFromPremultipliedArgb(argb.data(), argb.size());
        const bool named = shown->name != nullptr && shown->name[0] != '\0';
        hidden = fullyTransparent(image.rgba);
        const char* standard = named ? standardNameForXCursor(shown->name) : nullptr;
        if (named && hidden) {
            // An animated cursor shows as a blank image under its name until its second frame;
            // its first frame is the theme's.
            const ThemeImagesPtr frames = theme().load(shown->name);
            if (frames && frames->nimage > 0) {
                const XcursorImage& first = *frames->images[0];
                image.width = static_cast<int32_t>(first.width);
                image.height = static_cast<int32_t>(first.height);
                image.hotX = static_cast<int32_t>(first.xhot);
                image.hotY = static_cast<int32_t>(first.yhot);
                image.rgba = straightRgbaFromPremultipliedArgb(first.pixels, static_cast<size_t>(first.width) * first.height);
                hidden = fullyTransparent(image.rgba);
            }
        } else if (!named && !hidden) {
            // An animated theme cursor's frames come without a name.
            standard = theme().standardNameOf(*shown);
        }
        if (standard != nullptr) image.standardName = standard;
        // X has no hidden state otherwise: an application hides the pointer with an invisible cursor.
        return true;
    }

    void wake() override { wakePipe.wake(); }

private:
    // Reads what the server sent; true when a cursor change was among it.
    bool takeCursorEvents(Display* display) {
        bool changed = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == eventBase + XFixesCursorNotify) changed = true;
        }
        return changed;
    }

    // Loaded on this thread when first needed, not when the recording starts.
    const XCursorTheme& theme() {
        if (!cursorTheme) cursorTheme = std::make_unique<XCursorTheme>(connection->display());
        return *cursorTheme;
    }

    // Desktops that scale set Xft.dpi; 96 dpi is a scale of 1.
    static double displayScale(Display* display) {
        const char* dpi = XGetDefault(display, "Xft", "dpi");
        const double value = dpi != nullptr ? std::atof(dpi) : 0;
        return value > 0 ? value / 96.0 : 1.0;
    }

    std::shared_ptr<X11Connection> connection;
    int eventBase = 0;
    bool selected = false;
    double scale = 1;
    std::unique_ptr<XCursorTheme> cursorTheme;
    WakePipe wakePipe;
};

}  // namespace

std::unique_ptr<CursorImageSource> openCursorImageSource() { return std::make_unique<XCursorImageSource>(); }
