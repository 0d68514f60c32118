#pragma once

#include <cstdint>

// Time sources of the capture loop. The wall clock dates the first sample; intervals between
// samples are measured on a monotonic clock so that a clock adjustment cannot produce negative
// or jumping sample times.
class ScreenClock {
public:
    virtual ~ScreenClock() = default;
    virtual int64_t wallTicks() = 0;    // 100 ns since 1970-01-01 UTC
    virtual int64_t steadyTicks() = 0;  // 100 ns on a monotonic clock
    virtual void sleepMillis(uint32_t millis) = 0;
};

class SystemScreenClock : public ScreenClock {
public:
    int64_t wallTicks() override;
    int64_t steadyTicks() override;
    void sleepMillis(uint32_t millis) override;
};
