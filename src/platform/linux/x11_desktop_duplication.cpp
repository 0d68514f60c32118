#include "platform/linux/x11_desktop_duplication.h"

#include "platform/linux/x11_outputs.h"

#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr HResult invalidCall = static_cast<HResult>(0x887A0001u);

class X11DesktopFrame : public DesktopResource {
public:
    X11DesktopFrame(Window root, X11Rect rect) : root(root), rect(rect) {}
    std::unique_ptr<VideoTexture> queryTexture() override { return std::make_unique<X11DesktopTexture>(root, rect); }

private:
    Window root;
    X11Rect rect;
};

}  // namespace

HResult X11SharedImage::create(std::shared_ptr<X11Connection> connection, unsigned width, unsigned height, bool& sharedMemory,
                               std::unique_ptr<VideoTexture>& texture) {
    std::unique_ptr<X11SharedImage> image(new X11SharedImage(std::move(connection), width, height));
    if (sharedMemory) {
        const HResult attached = image->attachSegment();
        if (attached == hresult::outOfMemory) return attached;
        if (failed(attached)) {
            // The server has the extension but cannot reach our memory (a display on another
            // machine): read through the connection instead.
            image.reset(new X11SharedImage(image->connection, width, height));
            sharedMemory = false;
        }
    }
    texture = std::move(image);
    return hresult::ok;
}

HResult X11SharedImage::attachSegment() {
    Display* dpy = connection->display();
    const int screen = DefaultScreen(dpy);
    ximage = XShmCreateImage(dpy, DefaultVisual(dpy, screen), static_cast<unsigned>(DefaultDepth(dpy, screen)), ZPixmap, nullptr,
                             &segment, width, height);
    if (ximage == nullptr) return hresult::outOfMemory;
    imageBytes = static_cast<size_t>(ximage->bytes_per_line) * height;
    // Pages of the parts' room are only touched when a part is grabbed.
    segment.shmid = shmget(IPC_PRIVATE, 2 * imageBytes, IPC_CREAT | 0600);
    if (segment.shmid < 0) return hresult::outOfMemory;
    segment.shmaddr = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
    // Marked for removal at once: the segment goes away with its last attachment, even on a crash.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (segment.shmaddr == reinterpret_cast<char*>(-1)) {
        segment.shmaddr = nullptr;
        return hresult::outOfMemory;
    }
    ximage->data = segment.shmaddr;
    segment.readOnly = False;
    if (!XShmAttach(dpy, &segment) || !connection->sync()) return hresult::fail;
    attached = true;
    return hresult::ok;
}

X11SharedImage::~X11SharedImage() {
    // Detach on the server before the connection can close.
    if (attached && !connection->lost()) {
        XShmDetach(connection->display(), &segment);
        connection->sync();
    }
    if (ximage != nullptr) {
        if (segment.shmaddr != nullptr) ximage->data = nullptr;  // not Xlib's to free
        XDestroyImage(ximage);
    }
    if (segment.shmaddr != nullptr) shmdt(segment.shmaddr);
}

bool X11SharedImage::grab(const X11DesktopTexture& source) {
    grabbed = false;
    if (connection->lost()) return false;
    if (source.rect.width != width || source.rect.height != height) return false;
    if (!attached) return grabPlain(source, ImageRect{0, 0, static_cast<int>(width), static_cast<int>(height)});
    const Bool done = XShmGetImage(connection->display(), source.root, ximage, source.rect.x, source.rect.y, AllPlanes);
    grabbed = done && connection->takeError() == 0 && !connection->lost();
    return grabbed;
}

// XGetImage: the server sends the pixels over the connection into a new image; a whole grab
// keeps that image, a part is copied into the one held.
bool X11SharedImage::grabPlain(const X11DesktopTexture& source, const ImageRect& part) {
    const bool whole = part.left == 0 && part.top == 0 && part.right == static_cast<int>(width) && part.bottom == static_cast<int>(height);
    XImage* piece = XGetImage(connection->display(), source.root, source.rect.x + part.left, source.rect.y + part.top,
                              static_cast<unsigned>(part.right - part.left), static_cast<unsigned>(part.bottom - part.top), AllPlanes,
                              ZPixmap);
    const bool ok = piece != nullptr && connection->takeError() == 0 && !connection->lost() && piece->bits_per_pixel == 32;
    if (!ok) {
        if (piece != nullptr) XDestroyImage(piece);
        grabbed = false;
        return false;
    }
    if (whole) {
        if (ximage != nullptr) XDestroyImage(ximage);
        ximage = piece;
    } else {
        const size_t rowBytes = static_cast<size_t>(part.right - part.left) * 4;
        for (int y = 0; y < part.bottom - part.top; ++y) {
            std::memcpy(ximage->data + static_cast<size_t>(part.top + y) * ximage->bytes_per_line + static_cast<size_t>(part.left) * 4,
                        piece->data + static_cast<size_t>(y) * piece->bytes_per_line, rowBytes);
        }
        XDestroyImage(piece);
    }
    grabbed = true;
    return true;
}

bool X11SharedImage::grabPart(const X11DesktopTexture& source, const ImageRect& part) {
    if (!grabbed || ximage == nullptr) return grabbed;
    const ImageRect clipped{std::max(part.left, 0), std::max(part.top, 0), std::min(part.right, ximage->width),
                            std::min(part.bottom, ximage->height)};
    if (clipped.empty()) return grabbed;
    const auto width = static_cast<unsigned>(clipped.right - clipped.left);
    const auto height = static_cast<unsigned>(clipped.bottom - clipped.top);
    if (width == static_cast<unsigned>(ximage->width) && height == static_cast<unsigned>(ximage->height)) return grab(source);
    if (connection->lost()) {
        grabbed = false;
        return false;
    }
    if (!attached) return grabPlain(source, clipped);
    Display* dpy = connection->display();
    const int screen = DefaultScreen(dpy);
    XImage* piece = XShmCreateImage(dpy, DefaultVisual(dpy, screen), static_cast<unsigned>(DefaultDepth(dpy, screen)), ZPixmap,
                                    segment.shmaddr + imageBytes, &segment, width, height);
    grabbed = piece != nullptr && !connection->lost() &&
              XShmGetImage(dpy, source.root, piece, source.rect.x + clipped.left, source.rect.y + clipped.top, AllPlanes) &&
              connection->takeError() == 0 && !connection->lost();
    if (grabbed) {
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (unsigned y = 0; y < height; ++y) {
            std::memcpy(ximage->data + static_cast<size_t>(clipped.top + y) * ximage->bytes_per_line + static_cast<size_t>(clipped.left) * 4,
                        piece->data + static_cast<size_t>(y) * piece->bytes_per_line, rowBytes);
        }
    }
    if (piece != nullptr) {
        piece->data = nullptr;
        XDestroyImage(piece);
    }
    return grabbed;
}

HResult X11DesktopDuplication::create(std::shared_ptr<X11Connection> connection, int screen, X11Rect output,
                                      std::unique_ptr<DesktopDuplication>& duplication) {
    Display* dpy = connection->display();
    int damageError = 0;
    int randrError = 0;
    std::unique_ptr<X11DesktopDuplication> created(new X11DesktopDuplication(connection, screen, output));
    // Without DAMAGE every acquire delivers the desktop; without RandR a new screen size goes
    // unnoticed (the grab of the old size fails and the frame repeats).
    if (XDamageQueryExtension(dpy, &created->damageEventBase, &damageError)) {
        created->damage = XDamageCreate(dpy, created->root, XDamageReportNonEmpty);
        // Where the damage lies takes XFixes regions; without them every change is the whole desktop.
        int fixesEvent = 0;
        int fixesError = 0;
        int fixesMajor = 2;
        int fixesMinor = 0;
        if (XFixesQueryExtension(dpy, &fixesEvent, &fixesError) && XFixesQueryVersion(dpy, &fixesMajor, &fixesMinor) &&
            fixesMajor >= 2) {
            created->damagedParts = XFixesCreateRegion(dpy, nullptr, 0);
        }
    }
    created->watchesRandr = XRRQueryExtension(dpy, &created->randrEventBase, &randrError);
    if (created->watchesRandr) XRRSelectInput(dpy, created->root, RRScreenChangeNotifyMask);
    if (!connection->sync()) return hresult::fail;
    duplication = std::move(created);
    return hresult::ok;
}

X11DesktopDuplication::~X11DesktopDuplication() {
    if (!connection->lost() && (damage != 0 || watchesRandr)) {
        // The connection outlives the duplication: stop what it asked the server to send.
        if (watchesRandr) XRRSelectInput(connection->display(), root, 0);
        if (damage != 0) XDamageDestroy(connection->display(), damage);
        if (damagedParts != 0) XFixesDestroyRegion(connection->display(), damagedParts);
        connection->sync();
    }
}

DuplicationMode X11DesktopDuplication::mode() { return {output.width, output.height, pixelFormatB8G8R8A8}; }

void X11DesktopDuplication::drainEvents() {
    Display* dpy = connection->display();
    while (!connection->lost() && XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == damageEventBase + XDamageNotify) {
            damaged = true;
        } else if (event.type == randrEventBase + RRScreenChangeNotify) {
            XRRUpdateConfiguration(&event);
            screenChanged = true;
        }
    }
}

void X11DesktopDuplication::waitForEvents(uint32_t timeoutMillis) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMillis);
    while (!damaged && !screenChanged && !connection->lost()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        pollfd connectionFd{ConnectionNumber(connection->display()), POLLIN, 0};
        if (poll(&connectionFd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return;
        drainEvents();
    }
}

void X11DesktopDuplication::takeDamage() {
    if (damage == 0) return;
    // The region stays on the server until asked for: a loop that never asks pays no round trip.
    XDamageSubtract(connection->display(), damage, None, damagedParts);
    partsFetched = false;
}

bool X11DesktopDuplication::changedRects(std::vector<ImageRect>& rects) {
    rects.clear();
    if (!frameHeld || firstFrame || damagedParts == 0) return false;
    if (!partsFetched) {
        changes.clear();
        int count = 0;
        XRectangle* boxes = XFixesFetchRegion(connection->display(), damagedParts, &count);
        changesKnown = boxes != nullptr || count == 0;
        for (int i = 0; changesKnown && i < count; ++i) {
            const ImageRect part{std::max(boxes[i].x - output.x, 0), std::max(boxes[i].y - output.y, 0),
                                 std::min(boxes[i].x + boxes[i].width - output.x, static_cast<int>(output.width)),
                                 std::min(boxes[i].y + boxes[i].height - output.y, static_cast<int>(output.height))};
            if (!part.empty()) changes.push_back(part);
        }
        if (boxes != nullptr) XFree(boxes);
        partsFetched = true;
    }
    if (!changesKnown) return false;
    rects = changes;
    return true;
}

HResult X11DesktopDuplication::acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) {
    resource.reset();
    if (frameHeld) return invalidCall;
    drainEvents();
    if (!damaged && timeoutMillis > 0) waitForEvents(timeoutMillis);
    if (screenChanged && !connection->lost()) {
        // The server also reports the configuration a new listener starts with; only a real
        // change of this output ends the duplication.
        screenChanged = false;
        const std::vector<X11Output> outputs = activeOutputs(connection->display(), screen);
        const bool stillThere = std::any_of(outputs.begin(), outputs.end(), [this](const X11Output& o) {
            return o.rect.x == output.x && o.rect.y == output.y && o.rect.width == output.width && o.rect.height == output.height;
        });
        reconfigured = reconfigured || !stillThere;
    }
    if (connection->lost() || reconfigured) return hresult::accessLost;
    if (!damaged) return hresult::waitTimeout;
    // Clear the damage before the grab, so that drawing during the grab shows up next time.
    takeDamage();
    damaged = damage == 0;
    frameHeld = true;
    resource = std::make_unique<X11DesktopFrame>(root, output);
    return hresult::ok;
}

HResult X11DesktopDuplication::releaseFrame() {
    if (!frameHeld) return invalidCall;
    frameHeld = false;
    firstFrame = false;
    return hresult::ok;
}
