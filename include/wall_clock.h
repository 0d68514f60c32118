#pragma once

#include <cstdint>

// The system's precise wall clock in 100-nanosecond ticks since 1970-01-01 UTC.
int64_t wallClockTicks();

// Milliseconds since 1970-01-01 UTC, truncated.
inline int64_t wallClockMillis() { return wallClockTicks() / 10000; }
