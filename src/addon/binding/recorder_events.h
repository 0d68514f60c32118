#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <napi.h>

#include "track_events.h"

// The one road from the recorder threads to a Recorder's JavaScript side for one recording: the
// events it emits ("failure", "lost", "back", "outage", "warning") and the word that a stop() has
// finished its files. Created and closed on the JavaScript thread; posted to from any thread
// until it is closed.
class RecorderEvents {
public:
    struct Message {
        std::optional<TrackEvent> event;  // empty: the stop has finished
    };

    // Emits through `target`'s own emit(), looked up now; `target` is held weakly, so a channel
    // never keeps its Recorder alive. The channel does not keep the event loop alive either.
    static std::shared_ptr<RecorderEvents> open(Napi::Env env, Napi::Object target);
    RecorderEvents() = default;
    RecorderEvents(const RecorderEvents&) = delete;
    RecorderEvents& operator=(const RecorderEvents&) = delete;

    // Any thread, until close().
    void post(const TrackEvent& event);
    void postStopped();

    // JavaScript thread. What runs when postStopped()'s word arrives; cleared by the owner when it goes.
    std::function<void()> onStopped;
    // Holds the event loop open while a stop() is under way.
    void holdLoop(Napi::Env env);
    // Lets go for good; messages already posted are still delivered. Safe after the environment
    // has torn the channel down.
    void close();

private:
    static void deliver(Napi::Env env, Napi::Function unused, RecorderEvents* self, Message* message);
    static void emitEvent(Napi::Env env, RecorderEvents& self, const TrackEvent& event);
    static void rethrowLater(Napi::Env env, const Napi::Error& error);
    using Function = Napi::TypedThreadSafeFunction<RecorderEvents, Message, &RecorderEvents::deliver>;

    Function function;
    bool closed = false;     // close() was called
    bool finalized = false;  // Node-API has finalized the function (after close, or at teardown)
    Napi::FunctionReference emit;
    Napi::ObjectReference target;
};
