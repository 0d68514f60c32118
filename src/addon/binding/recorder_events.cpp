#include "addon/binding/recorder_events.h"

std::shared_ptr<RecorderEvents> RecorderEvents::open(Napi::Env env, Napi::Object target) {
    auto channel = std::make_shared<RecorderEvents>();
    const Napi::Value emit = target.Get("emit");
    if (emit.IsFunction()) channel->emit = Napi::Persistent(emit.As<Napi::Function>());
    channel->target = Napi::Weak(target);
    // The function's finalizer keeps the channel alive for the messages still queued.
    auto* keep = new std::shared_ptr<RecorderEvents>(channel);
    channel->function = Function::New(
        env, "desktracksRecorderEvents", 0, 1, channel.get(),
        [](Napi::Env, std::shared_ptr<RecorderEvents>* held, RecorderEvents* self) {
            self->finalized = true;
            self->emit.Reset();
            self->target.Reset();
            self->onStopped = nullptr;
            delete held;
        },
        keep);
    channel->function.Unref(env);
    return channel;
}

void RecorderEvents::post(const TrackEvent& event) {
    auto* message = new Message{event};
    if (function.NonBlockingCall(message) != napi_ok) delete message;
}

void RecorderEvents::postStopped() {
    auto* message = new Message{};
    if (function.NonBlockingCall(message) != napi_ok) delete message;
}

void RecorderEvents::holdLoop(Napi::Env env) {
    if (!closed && !finalized) function.Ref(env);
}

void RecorderEvents::close() {
    if (closed) return;
    closed = true;
    if (!finalized) function.Release();
}

void RecorderEvents::deliver(Napi::Env env, Napi::Function, RecorderEvents* self, Message* message) {
    const std::unique_ptr<Message> owned(message);
    if (env == nullptr) return;  // the environment is going away
    // Nothing may leave this function: Node-API turns an exception escaping a thread-safe call
    // into the end of the process, and while the environment shuts down every call may fail.
    try {
        if (!owned->event) {
            if (self->onStopped) {
                // Runs once; it may close this channel.
                const std::function<void()> stopped = std::move(self->onStopped);
                self->onStopped = nullptr;
                stopped();
            }
            return;
        }
        emitEvent(env, *self, *owned->event);
    } catch (const Napi::Error& error) {
        rethrowLater(env, error);
    } catch (...) {
    }
}

void RecorderEvents::emitEvent(Napi::Env env, RecorderEvents& self, const TrackEvent& e) {
    if (self.emit.IsEmpty() || self.target.IsEmpty()) return;
    const Napi::Value target = self.target.Value();
    if (!target.IsObject()) return;
    Napi::Object payload = Napi::Object::New(env);
    payload.Set("track", Napi::String::New(env, e.track));
    payload.Set("code", Napi::String::New(env, trackEventCodeName(e.code)));
    payload.Set("message", Napi::String::New(env, e.message));
    payload.Set("time", Napi::Number::New(env, static_cast<double>(e.wallTicks) / 10000.0));
    self.emit.Call(target, {Napi::String::New(env, trackEventKindName(e.kind)), payload});
}

void RecorderEvents::rethrowLater(Napi::Env env, const Napi::Error& error) {
    // Node-API would only warn about an error thrown here (a listener's): thrown again from a
    // microtask it is an uncaught error like any listener's. Nothing is left to tell when even
    // that cannot be done (the environment is shutting down).
    try {
        const Napi::Value queue = env.Global().Get("queueMicrotask");
        if (!queue.IsFunction()) return;
        auto held = std::make_shared<Napi::ObjectReference>(Napi::Persistent(error.Value()));
        queue.As<Napi::Function>().Call({Napi::Function::New(env, [held](const Napi::CallbackInfo& info) {
            const Napi::Object value = held->Value();
            held->Reset();
            throw Napi::Error(info.Env(), value);
        })});
    } catch (...) {
    }
}
