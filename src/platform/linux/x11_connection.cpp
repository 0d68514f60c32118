#include "platform/linux/x11_connection.h"

#include <map>
#include <mutex>

namespace {

// Xlib's error handler is process-wide: errors of our connections are recorded, those of any
// other connection go to the handler that was installed before ours.
std::mutex registryMutex;
std::map<Display*, X11Connection*> registry;
XErrorHandler previousHandler = nullptr;
XIOErrorHandler previousIoHandler = nullptr;
std::once_flag installOnce;

}  // namespace

std::shared_ptr<X11Connection> X11Connection::open(const char* user) {
    // One connection per display for the life of the process. Closing a connection removes its
    // extension records (RandR, XFixes, ...) from lists that libX11's extension helpers read
    // without a lock, which crashed other threads (the input hook) that used them at that
    // moment; a connection that stays open never does that.
    static std::mutex cacheMutex;
    static auto* connections = new std::map<std::string, std::shared_ptr<X11Connection>>();  // left to the process exit
    const std::string name = XDisplayName(nullptr);
    std::lock_guard<std::mutex> lock(cacheMutex);
    std::shared_ptr<X11Connection>* cached = &(*connections)[user];
    if (*cached && (*cached)->name == name) {
        // A round trip finds out whether the server behind the name is still the one we knew.
        if (!(*cached)->lost()) XSync((*cached)->dpy, False);
        if (!(*cached)->lost()) return *cached;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    *cached = std::shared_ptr<X11Connection>(new X11Connection(display, name));
    return *cached;
}

X11Connection::X11Connection(Display* display, std::string displayName) : dpy(display), name(std::move(displayName)) {
    std::call_once(installOnce, [] {
        previousHandler = XSetErrorHandler(&X11Connection::onError);
        previousIoHandler = XSetIOErrorHandler(&X11Connection::onIoError);
    });
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry[dpy] = this;
    }
    XSetIOErrorExitHandler(dpy, &X11Connection::onConnectionLost, this);
}

X11Connection::~X11Connection() {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry.erase(dpy);
    }
    XCloseDisplay(dpy);
}

bool X11Connection::sync() {
    if (connectionLost) return false;
    XSync(dpy, False);
    return takeError() == 0 && !connectionLost;
}

int X11Connection::takeError() {
    const int error = lastError;
    lastError = 0;
    return error;
}

int X11Connection::onError(Display* display, XErrorEvent* event) {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        const auto found = registry.find(display);
        if (found != registry.end()) {
            found->second->lastError = event->error_code;
            return 0;
        }
    }
    return previousHandler != nullptr ? previousHandler(display, event) : 0;
}

int X11Connection::onIoError(Display* display) {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        // Ours: the exit handler that follows marks the connection lost and lets Xlib return.
        if (registry.count(display) != 0) return 0;
    }
    return previousIoHandler != nullptr ? previousIoHandler(display) : 0;
}

void X11Connection::onConnectionLost(Display*, void* self) { static_cast<X11Connection*>(self)->connectionLost = true; }
