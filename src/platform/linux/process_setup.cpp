#include "platform/process_setup.h"

#include <X11/Xlib.h>

#include <mutex>

void prepareProcessForRecorderThreads() {
    // The screen, cursor and hook threads open their own displays at the same moment. libX11
    // only initialises its locking on the first XOpenDisplay, and two threads doing that at once
    // corrupt its heap; initialising here, before any thread exists, removes the race.
    static std::once_flag once;
    std::call_once(once, [] { XInitThreads(); });
}
