#include "platform/linux/x11_outputs.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace {

// A CRTC or monitor can reach past a root window that was shrunk under it: only the part inside
// the root can be read. False when nothing of it is inside.
bool clipToRoot(int x, int y, unsigned width, unsigned height, int rootWidth, int rootHeight, X11Rect& rect) {
    const int right = std::min<int>(x + static_cast<int>(width), rootWidth);
    const int bottom = std::min<int>(y + static_cast<int>(height), rootHeight);
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    if (right <= left || bottom <= top) return false;
    rect = {left, top, static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top)};
    return true;
}

void addMonitors(Display* dpy, Window root, int rootWidth, int rootHeight, std::vector<X11Output>& outputs) {
    int major = 0;
    int minor = 0;
    if (!XRRQueryVersion(dpy, &major, &minor) || major < 1 || (major == 1 && minor < 5)) return;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
    if (monitors == nullptr) return;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors[i];
        X11Rect rect;
        if (!clipToRoot(monitor.x, monitor.y, static_cast<unsigned>(monitor.width), static_cast<unsigned>(monitor.height), rootWidth,
                        rootHeight, rect)) {
            continue;
        }
        std::string name;
        if (char* atomName = XGetAtomName(dpy, monitor.name)) {
            name = atomName;
            XFree(atomName);
        }
        outputs.push_back({name.empty() ? "monitor " + std::to_string(i) : name, rect, monitor.primary != 0});
    }
    XRRFreeMonitors(monitors);
}

void addCrtcOutputs(Display* dpy, Window root, int rootWidth, int rootHeight, std::vector<X11Output>& outputs) {
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
    if (resources == nullptr) return;
    const RROutput primary = XRRGetOutputPrimary(dpy, root);
    for (int i = 0; i < resources->noutput; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(dpy, resources, resources->outputs[i]);
        if (info == nullptr) continue;
        if (info->crtc != 0) {
            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, resources, info->crtc)) {
                X11Rect rect;
                if (clipToRoot(crtc->x, crtc->y, crtc->width, crtc->height, rootWidth, rootHeight, rect)) {
                    outputs.push_back({std::string(info->name, static_cast<size_t>(info->nameLen)), rect,
                                       resources->outputs[i] == primary});
                }
                XRRFreeCrtcInfo(crtc);
            }
        }
        XRRFreeOutputInfo(info);
    }
    XRRFreeScreenResources(resources);
}

}  // namespace

std::vector<X11Output> activeOutputs(Display* dpy, int screen) {
    std::vector<X11Output> outputs;
    const Window root = RootWindow(dpy, screen);
    const int rootWidth = DisplayWidth(dpy, screen);
    const int rootHeight = DisplayHeight(dpy, screen);
    int eventBase = 0;
    int errorBase = 0;
    if (XRRQueryExtension(dpy, &eventBase, &errorBase)) {
        addMonitors(dpy, root, rootWidth, rootHeight, outputs);
        if (outputs.empty()) addCrtcOutputs(dpy, root, rootWidth, rootHeight, outputs);
    }
    if (outputs.empty()) {
        outputs.push_back({"screen " + std::to_string(screen), {0, 0, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight)}, true});
    }
    return outputs;
}
