#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

// The Xlib connection of the screen track, shared by every user on the same display and kept
// open while the process runs (a lost one is replaced). X errors on it are recorded instead of reaching
// Xlib's default handler (which ends the process), and a lost server marks it lost instead of
// exiting.
class X11Connection {
public:
    // `user` names who holds it: each user gets a connection of its own, since Xlib connections
    // are not shared between threads here.
    static std::shared_ptr<X11Connection> open(const char* user = "screen");
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return dpy; }
    bool lost() const { return connectionLost; }
    // Waits for the server to handle every request sent so far; false when one of them failed
    // or the connection is gone. Clears the recorded error.
    bool sync();
    // The error code recorded since the last call (0 for none), cleared.
    int takeError();

private:
    X11Connection(Display* display, std::string displayName);
    static int onError(Display* display, XErrorEvent* event);
    static int onIoError(Display* display);
    static void onConnectionLost(Display* display, void* self);

    Display* dpy;
    const std::string name;
    int lastError = 0;
    bool connectionLost = false;
};
