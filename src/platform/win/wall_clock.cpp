#include "wall_clock.h"

#include <windows.h>

int64_t wallClockTicks() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    // FILETIME counts from 1601; move the epoch to 1970.
    return static_cast<int64_t>(ticks.QuadPart) - 116444736000000000LL;
}
