#pragma once

#include <X11/Xlib.h>

#include <string>

// What the X11 capture says about the session it runs in, in X11's own terms.

// Why no X display could be opened: DISPLAY unset, or the server behind it unreachable.
std::string noDisplayReason(const char* displayVariable);

// Whether the X server is Xwayland (its XWAYLAND extension or its XWAYLAND* outputs).
bool isXwaylandServer(Display* display);

// In a Wayland session the X server that DISPLAY names is Xwayland, whose root window shows only
// the X11 clients' windows. The sentence saying so, or empty when the session is not Wayland or
// the X server is another one (then its whole screen is really captured).
std::string waylandPartialReason(const char* waylandDisplay, const char* sessionType, bool xwaylandServer);

// Why the default visual cannot be read as 32-bit BGR pixels.
std::string visualReason(Display* display, int screen);
