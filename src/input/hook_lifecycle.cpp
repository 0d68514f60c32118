#include "input/hook_lifecycle.h"

#include <chrono>

#include "recording_status.h"
#include "run_flags.h"
#include "wall_clock.h"

HookLifecycle inputHook;

namespace {

// How often recording end repeats a stop that has not taken effect yet.
constexpr std::chrono::milliseconds stopRetryInterval{10};

}  // namespace

void HookLifecycle::starting(const InputHookLibrary& hookLibrary) {
    std::lock_guard<std::mutex> lock(mutex);
    library = &hookLibrary;
    state = State::starting;
    everEnabled = false;
}

void HookLifecycle::enabled() {
    std::lock_guard<std::mutex> lock(mutex);
    if (state != State::starting) return;
    state = State::enabled;
    everEnabled = true;
    markTrackStart(recordingStatus.inputTiming, wallClockTicks());
    changed.notify_all();
    // The recording ended while the hook was coming up: nobody else will stop it.
    if (!inputRunning.load()) stopIfEnabled();
}

void HookLifecycle::disabled() {
    std::lock_guard<std::mutex> lock(mutex);
    if (state == State::enabled) state = State::disabled;
}

void HookLifecycle::returned() {
    std::lock_guard<std::mutex> lock(mutex);
    state = State::returned;
    library = nullptr;
    changed.notify_all();
}

bool HookLifecycle::wasEnabled() {
    std::lock_guard<std::mutex> lock(mutex);
    return everEnabled;
}

void HookLifecycle::requestStop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopIfEnabled();
}

void HookLifecycle::waitUntilReturned() {
    std::unique_lock<std::mutex> lock(mutex);
    while (state != State::returned) {
        stopIfEnabled();
        changed.wait_for(lock, stopRetryInterval);
    }
}

void HookLifecycle::reset() {
    std::lock_guard<std::mutex> lock(mutex);
    state = State::idle;
    everEnabled = false;
    library = nullptr;
}

void HookLifecycle::stopIfEnabled() {
    // Held under the lock: the hook's state cannot be freed while hook_stop reads it, because
    // the disabled event that precedes the free waits for the lock.
    if (state == State::enabled && library != nullptr) library->stop();
}
