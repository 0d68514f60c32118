#include "platform/thread_dpi.h"

#include <windows.h>

namespace {

using SetThreadAwareness = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);

// Looked up, not imported: user32 has it from Windows 10 1607 on, and the add-on must still load
// on earlier systems.
SetThreadAwareness setThreadAwareness() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return nullptr;
    return reinterpret_cast<SetThreadAwareness>(reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
}

}  // namespace

PhysicalPixelsOnThisThread::PhysicalPixelsOnThisThread() {
    const SetThreadAwareness set = setThreadAwareness();
    if (set == nullptr) return;
    // A context the system does not know (v2 before Windows 10 1703) is refused with NULL and
    // leaves the thread as it was.
    DPI_AWARENESS_CONTEXT old = set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (old != nullptr) {
        obtained = Awareness::perMonitorV2;
    } else {
        old = set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
        if (old != nullptr) obtained = Awareness::perMonitor;
    }
    previous = old;
}

PhysicalPixelsOnThisThread::~PhysicalPixelsOnThisThread() {
    if (previous == nullptr) return;
    if (const SetThreadAwareness set = setThreadAwareness()) set(static_cast<DPI_AWARENESS_CONTEXT>(previous));
}
