#include "audio/run_flag_wait.h"

#include <algorithm>
#include <thread>

bool sleepWhileRaised(const std::atomic<bool>& flag, std::chrono::milliseconds duration) {
    // Short slices so the end of a recording is not held up by a long sleep.
    constexpr std::chrono::milliseconds slice{10};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (flag.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(slice, deadline - now));
    }
    return false;
}
