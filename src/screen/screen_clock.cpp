#include "screen/screen_clock.h"

#include <chrono>
#include <thread>

#include "wall_clock.h"

int64_t SystemScreenClock::wallTicks() { return wallClockTicks(); }

int64_t SystemScreenClock::steadyTicks() {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SystemScreenClock::sleepMillis(uint32_t millis) { std::this_thread::sleep_for(std::chrono::milliseconds(millis)); }
