#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "platform/linux/x11_desktop_duplication.h"

struct X11Output {
    std::string name;
    X11Rect rect;
};

// Active outputs of a screen in RandR's order; the whole root when RandR lists none.
std::vector<X11Output> activeOutputs(Display* dpy, int screen);
