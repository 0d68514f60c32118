#pragma once

#include <cstdint>

#include "platform/video_result.h"

// A desktop that cannot be captured for a while: a lock screen, a UAC prompt, Ctrl+Alt+Del, sleep,
// a mode change, a full-screen application, a driver update. The recording goes on with the last
// image held and the capture is tried again, often at first and then less often, for as long as
// the recording runs.

// Whether an acquire's result is one of those passing states (as opposed to a fault that ends the
// screen track), and whether it means the device itself has to be made again.
bool isCaptureOutage(HResult result);
bool needsNewDevice(HResult result);

// When the next attempt is due. Times are steady-clock ticks (100 ns).
class CaptureBackoff {
public:
    // Every 250 ms for the first 5 s (a mode change, a UAC prompt), every second up to a minute,
    // then every 2 s (a lock screen, sleep).
    static int64_t intervalAfter(int64_t outageTicks);

    void start(int64_t now);
    void attemptFailed(int64_t now);
    bool due(int64_t now) const { return now >= nextAttempt; }
    int64_t untilDue(int64_t now) const { return due(now) ? 0 : nextAttempt - now; }
    int64_t lasted(int64_t now) const { return now - started; }

private:
    int64_t started = 0;
    int64_t nextAttempt = 0;
};
