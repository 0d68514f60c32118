#include "platform/linux/x11_session.h"

#include <X11/extensions/Xrandr.h>

#include <strings.h>

#include <cstring>

std::string noDisplayReason(const char* displayVariable) {
    if (displayVariable == nullptr || *displayVariable == '\0') {
        return "no X display: DISPLAY is not set (no X server, or a session without X11)";
    }
    return std::string("cannot open the X display \"") + displayVariable +
           "\": no X server answers there, or it refused the connection (Xauthority)";
}

bool isXwaylandServer(Display* display) {
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (XQueryExtension(display, "XWAYLAND", &opcode, &event, &error)) return true;
    // Xwayland before its extension existed: its outputs are named XWAYLAND0, XWAYLAND1, ...
    if (!XRRQueryExtension(display, &event, &error)) return false;
    bool found = false;
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))) {
        for (int i = 0; i < resources->noutput && !found; ++i) {
            if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
                found = std::strncmp(info->name, "XWAYLAND", 8) == 0;
                XRRFreeOutputInfo(info);
            }
        }
        XRRFreeScreenResources(resources);
    }
    return found;
}

std::string waylandPartialReason(const char* waylandDisplay, const char* sessionType, bool xwaylandServer) {
    const bool wayland = (waylandDisplay != nullptr && *waylandDisplay != '\0') ||
                         (sessionType != nullptr && strcasecmp(sessionType, "wayland") == 0);
    if (!wayland || !xwaylandServer) return {};
    return "this is a Wayland session: the X server is Xwayland, so only X11 windows are visible; the video "
           "does not show Wayland windows or the desktop behind them";
}

std::string visualReason(Display* display, int screen) {
    const Visual* visual = DefaultVisual(display, screen);
    const char* kind = visual->c_class == TrueColor ? "TrueColor" : visual->c_class == DirectColor ? "DirectColor" : "colour-mapped";
    return "the X screen's default visual is " + std::to_string(DefaultDepth(display, screen)) + "-bit " + kind +
           ", not 24-bit TrueColor with 32 bits per pixel (BGRX); start the X server with depth 24";
}
