#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/input_hook_library.h"

// Where libuiohook's hook stands, so that a stop is only ever asked of a running hook.
// libuiohook ignores hook_stop() until its hook is enabled (hook_run then never returns) and
// frees its state once hook_run returns, so recording end must neither stop too early nor too
// late: it repeats the stop while the hook runs, and the hook stops itself when it comes up
// after the recording has already ended.
class HookLifecycle {
public:
    // The input thread is about to call hook_run on `library`.
    void starting(const InputHookLibrary& library);
    // From the dispatch procedure, on the hook thread.
    void enabled();
    void disabled();
    // The input thread is past hook_run (or never called it).
    void returned();

    // True when the hook came up at some point since starting().
    bool wasEnabled();

    // Stops the hook if it is up; does nothing otherwise.
    void requestStop();
    // Blocks until returned(), stopping the hook whenever it is up.
    void waitUntilReturned();
    // Ready for the next recording's thread.
    void reset();

private:
    enum class State { idle, starting, enabled, disabled, returned };

    void stopIfEnabled();

    std::mutex mutex;
    std::condition_variable changed;
    State state = State::idle;
    bool everEnabled = false;
    const InputHookLibrary* library = nullptr;
};

// The process's one input hook.
extern HookLifecycle inputHook;
