#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "platform/linux/x11_desktop_duplication.h"

struct X11Output {
    std::string name;
    X11Rect rect;
    bool primary = false;
};

// The monitors of a screen in RandR's order: RandR 1.5 monitors (which `xrandr --setmonitor` can
// also define), else the active outputs' CRTCs, else the whole root. Each is clipped to the root.
std::vector<X11Output> activeOutputs(Display* dpy, int screen);
