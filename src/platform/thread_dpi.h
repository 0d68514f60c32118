#pragma once

// Positions, cursor sizes and the desktop image in the same physical pixels, whatever the host
// process declared about display scaling: for as long as it lives, the calling thread is
// per-monitor DPI aware (v2), so the system neither scales what it reports to the thread nor
// virtualises the desktop's size. The thread's earlier awareness comes back at the end.
class PhysicalPixelsOnThisThread {
public:
    enum class Awareness {
        perMonitorV2,  // physical pixels on every monitor (Windows 10 1703 and later; always on X11)
        perMonitor,    // the same for these calls (Windows 10 1607)
        hostDefault,   // no per-thread awareness (before Windows 10 1607): the process's own holds
    };

    PhysicalPixelsOnThisThread();
    ~PhysicalPixelsOnThisThread();
    PhysicalPixelsOnThisThread(const PhysicalPixelsOnThisThread&) = delete;
    PhysicalPixelsOnThisThread& operator=(const PhysicalPixelsOnThisThread&) = delete;

    Awareness awareness() const { return obtained; }

private:
    Awareness obtained = Awareness::hostDefault;
    void* previous = nullptr;  // the thread's earlier awareness context, to restore
};
