#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

#include <memory>
#include <vector>

#include "platform/linux/x11_connection.h"
#include "platform/video_capture.h"

// A rectangle of the root window: the desktop of one RandR output.
struct X11Rect {
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
};

// The desktop image of one frame: a live rectangle of the root window, read when copied.
class X11DesktopTexture : public VideoTexture {
public:
    X11DesktopTexture(Window root, X11Rect rect) : root(root), rect(rect) {}
    const Window root;
    const X11Rect rect;
};

// An image the CPU can read: the staging texture. Normally a shared-memory image whose segment
// holds a second image's room after the first, where parts are grabbed before they are copied
// into place; where the server cannot share memory with us (no MIT-SHM, a remote display) a plain
// image that every grab reads through the connection.
class X11SharedImage : public VideoTexture {
public:
    // `sharedMemory` false asks for a plain image; with true, a server that refuses the segment
    // also gets one, and `sharedMemory` says so.
    static HResult create(std::shared_ptr<X11Connection> connection, unsigned width, unsigned height, bool& sharedMemory,
                          std::unique_ptr<VideoTexture>& texture);
    ~X11SharedImage() override;
    // Grabs the rectangle into the image; false when the server refused.
    bool grab(const X11DesktopTexture& source);
    // Grabs one part of the rectangle (in its pixels) into the same place of an image that holds
    // a whole grab; false, and no longer holding an image, when it could not.
    bool grabPart(const X11DesktopTexture& source, const ImageRect& part);
    bool holdsImage() const { return grabbed; }
    XImage* image() const { return ximage; }
    bool sharesMemory() const { return attached; }

private:
    X11SharedImage(std::shared_ptr<X11Connection> connection, unsigned width, unsigned height)
        : connection(std::move(connection)), width(width), height(height) {}
    HResult attachSegment();
    bool grabPlain(const X11DesktopTexture& source, const ImageRect& part);
    std::shared_ptr<X11Connection> connection;
    const unsigned width;
    const unsigned height;
    XShmSegmentInfo segment{};
    XImage* ximage = nullptr;
    size_t imageBytes = 0;
    bool attached = false;
    bool grabbed = false;
};

// A render target the desktop could be drawn into; X11 needs no object for it.
class X11RenderTarget : public VideoTexture {};

// Duplication of one output: XDamage tells whether and where the desktop changed, RandR whether the
// screen was reconfigured (which ends the duplication, as on other platforms). An acquire with a
// timeout waits on the connection for the first change.
class X11DesktopDuplication : public DesktopDuplication {
public:
    static HResult create(std::shared_ptr<X11Connection> connection, int screen, X11Rect output,
                          std::unique_ptr<DesktopDuplication>& duplication);
    ~X11DesktopDuplication() override;
    DuplicationMode mode() override;
    HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) override;
    HResult releaseFrame() override;
    bool changedRects(std::vector<ImageRect>& rects) override;

private:
    X11DesktopDuplication(std::shared_ptr<X11Connection> connection, int screen, X11Rect output)
        : connection(std::move(connection)), screen(screen), root(RootWindow(this->connection->display(), screen)), output(output) {}
    void drainEvents();
    void waitForEvents(uint32_t timeoutMillis);
    // Clears the damage; where it was stays in damagedParts.
    void takeDamage();

    std::shared_ptr<X11Connection> connection;
    int screen;
    Window root;
    X11Rect output;
    Damage damage = 0;  // 0 without the DAMAGE extension: every acquire is a new frame
    bool watchesRandr = false;
    XserverRegion damagedParts = 0;
    std::vector<ImageRect> changes;  // damagedParts in the output's pixels, once fetched
    bool partsFetched = false;
    bool changesKnown = false;
    bool firstFrame = true;  // delivers the whole desktop, whatever the damage says
    int damageEventBase = 0;
    int randrEventBase = 0;
    bool damaged = true;  // the first acquire delivers the current desktop
    bool screenChanged = false;
    bool reconfigured = false;
    bool frameHeld = false;
};
