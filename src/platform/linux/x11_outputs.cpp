#include "platform/linux/x11_outputs.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>

std::vector<X11Output> activeOutputs(Display* dpy, int screen) {
    std::vector<X11Output> outputs;
    const Window root = RootWindow(dpy, screen);
    const int rootWidth = DisplayWidth(dpy, screen);
    const int rootHeight = DisplayHeight(dpy, screen);
    int eventBase = 0;
    int errorBase = 0;
    if (XRRQueryExtension(dpy, &eventBase, &errorBase)) {
        if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root)) {
            for (int i = 0; i < resources->noutput; ++i) {
                XRROutputInfo* info = XRRGetOutputInfo(dpy, resources, resources->outputs[i]);
                if (info == nullptr) continue;
                if (info->crtc != 0) {
                    if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, resources, info->crtc)) {
                        // A CRTC can reach past a root window that was shrunk under it: only the
                        // part inside the root can be read.
                        const int right = std::min<int>(crtc->x + static_cast<int>(crtc->width), rootWidth);
                        const int bottom = std::min<int>(crtc->y + static_cast<int>(crtc->height), rootHeight);
                        const int left = std::max(crtc->x, 0);
                        const int top = std::max(crtc->y, 0);
                        if (right > left && bottom > top) {
                            outputs.push_back({std::string(info->name, static_cast<size_t>(info->nameLen)),
                                               {left, top, static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top)}});
                        }
                        XRRFreeCrtcInfo(crtc);
                    }
                }
                XRRFreeOutputInfo(info);
            }
            XRRFreeScreenResources(resources);
        }
    }
    if (outputs.empty()) {
        outputs.push_back({"screen " + std::to_string(screen), {0, 0, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight)}});
    }
    return outputs;
}

