#include "addon/binding/recorder.h"

#include <memory>
#include <system_error>

#include "addon/binding/device_list.h"
#include "addon/binding/start_options.h"
#include "audio/capture_device_list.h"

namespace {

// The class's constructor, for telling a Recorder from any other object.
struct BindingData {
    Napi::FunctionReference recorderClass;
};

}  // namespace

Napi::Function Recorder::DefineClass(Napi::Env env) {
    Napi::Function recorderClass = ObjectWrap<Recorder>::DefineClass(env, "Recorder",
                                                                    {
                                                                        InstanceMethod<&Recorder::Start>("start", napi_default),
                                                                        InstanceMethod<&Recorder::End>("end", napi_default),
                                                                        InstanceMethod<&Recorder::GetMics>("getMics", napi_default),
                                                                    });
    env.SetInstanceData(new BindingData{Napi::Persistent(recorderClass)});
    return recorderClass;
}

Recorder::Recorder(const Napi::CallbackInfo& info) : ObjectWrap<Recorder>(info) {}

Recorder::~Recorder() {
    // Collected while recording: complete the files as end() would rather than lose them.
    finishAndForgetTeardown();
}

Recorder* Recorder::recorderArgument(const Napi::CallbackInfo& info) {
    const auto* data = info.Env().GetInstanceData<BindingData>();
    if (info.Length() < 1 || !info[0].IsObject() || data == nullptr ||
        !info[0].As<Napi::Object>().InstanceOf(data->recorderClass.Value())) {
        throw Napi::TypeError::New(info.Env(), "Expected a Recorder as the first argument");
    }
    return Unwrap(info[0].As<Napi::Object>());
}

Napi::Value Recorder::StopRecording(const Napi::CallbackInfo& info) { return recorderArgument(info)->Stop(info.Env()); }

Napi::Value Recorder::Stop(Napi::Env env) {
    if (stopDeferred) return stopPromise.Value();  // the stop under way settles this one too
    Napi::Promise::Deferred deferred = Napi::Promise::Deferred::New(env);
    if (!session.isRecording()) {
        deferred.Reject(Napi::Error::New(env, "No recording is running").Value());
        return deferred.Promise();
    }
    keepAlive = Napi::Persistent(Value());
    stopPromise = Napi::Persistent(deferred.Promise());
    stopDeferred = deferred;
    events->holdLoop(env);
    events->onStopped = [this] { stopped(); };
    try {
        std::shared_ptr<RecorderEvents> channel = events;
        stopper = std::thread([this, channel] {
            session.finish();
            channel->postStopped();
        });
    } catch (const std::system_error&) {
        // No thread to spare: finish here, as end() would.
        events->onStopped = nullptr;
        stopped();
    }
    return stopPromise.Value();
}

void Recorder::stopped() {
    joinStopper();
    const std::optional<Napi::Promise::Deferred> deferred = std::move(stopDeferred);
    stopDeferred.reset();
    stopPromise.Reset();
    finishAndForgetTeardown();
    forgetExitListener(Env());
    if (deferred) deferred->Resolve(Env().Undefined());
    keepAlive.Reset();
}

void Recorder::joinStopper() {
    if (stopper.joinable()) stopper.join();
}

void Recorder::closeEvents() {
    if (!events) return;
    events->onStopped = nullptr;
    events->close();
    events.reset();
}

void Recorder::watchTeardown(Napi::Env env) {
    if (teardownEnv == nullptr && napi_add_env_cleanup_hook(env, endAtTeardown, this) == napi_ok) teardownEnv = env;
    // The listener reaches the Recorder through a weak reference: a collected Recorder has
    // already ended its recording, and the listener must not keep it alive.
    auto self = std::make_shared<Napi::ObjectReference>(Napi::Weak(Value()));
    const Napi::Function listener = Napi::Function::New(env, [self](const Napi::CallbackInfo&) {
        if (self->IsEmpty()) return;
        const Napi::Object object = self->Value();
        if (!object.IsEmpty()) Unwrap(object)->finishAndForgetTeardown();
    }, "endRecordingAtExit");
    const Napi::Value process = env.Global().Get("process");
    if (!process.IsObject()) return;
    const Napi::Value once = process.As<Napi::Object>().Get("once");
    if (!once.IsFunction()) return;
    once.As<Napi::Function>().Call(process, {Napi::String::New(env, "exit"), listener});
    exitListener = Napi::Persistent(listener);
}

void Recorder::endAtTeardown(void* recorder) {
    auto* self = static_cast<Recorder*>(recorder);
    self->teardownEnv = nullptr;  // the hook runs once and is gone
    self->joinStopper();
    self->session.finish();
    // Before Node-API tears the channel down itself: its own hook was added earlier, so it runs later.
    self->closeEvents();
    // A stop() under way has nobody left to tell.
    self->stopDeferred.reset();
    self->stopPromise.Reset();
    self->keepAlive.Reset();
}

void Recorder::finishAndForgetTeardown() {
    if (stopDeferred) {
        stopped();  // waits for the stop under way, settles its promise and comes back here
        return;
    }
    joinStopper();
    session.finish();
    closeEvents();
    if (teardownEnv != nullptr) {
        napi_remove_env_cleanup_hook(teardownEnv, endAtTeardown, this);
        teardownEnv = nullptr;
    }
}

Napi::Value Recorder::End(const Napi::CallbackInfo& info) {
    // During a stop() this waits for it; its promise still settles.
    finishAndForgetTeardown();
    forgetExitListener(info.Env());
    return info.Env().Undefined();
}

void Recorder::forgetExitListener(Napi::Env env) {
    if (exitListener.IsEmpty()) return;
    // A host that records many times must not collect one listener per recording.
    const Napi::Value process = env.Global().Get("process");
    const Napi::Value remove = process.IsObject() ? process.As<Napi::Object>().Get("removeListener") : env.Undefined();
    if (remove.IsFunction()) remove.As<Napi::Function>().Call(process, {Napi::String::New(env, "exit"), exitListener.Value()});
    exitListener.Reset();
}

Napi::Value Recorder::Start(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (info.Length() < 1 || !info[0].IsObject()) {
        Napi::TypeError::New(env, "Expected an object as the first argument").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    if (stopDeferred) {
        Napi::Error::New(env, "The recording is still stopping; wait for stop() to settle before starting another")
            .ThrowAsJavaScriptException();
        return env.Undefined();
    }
    if (RecordingSession::anyRecording()) {
        // Checked before the options are read, so the running recording's settings stay as they are.
        Napi::Error::New(env, "A recording is already running in this process; call end() before starting another")
            .ThrowAsJavaScriptException();
        return env.Undefined();
    }
    if (!readStartOptions(info[0].As<Napi::Object>(), session.settings)) return env.Undefined();
    closeEvents();  // an earlier recording's, should it still be open
    events = RecorderEvents::open(env, Value());
    std::weak_ptr<RecorderEvents> channel = events;
    session.onTrackEvent = [channel](const TrackEvent& event) {
        // The channel outlives every recorder thread of its recording: it closes after their joins.
        if (const std::shared_ptr<RecorderEvents> open = channel.lock()) open->post(event);
    };
    try {
        session.begin();
    } catch (const RecordingError& e) {
        closeEvents();
        Napi::Error::New(env, e.what()).ThrowAsJavaScriptException();
        return env.Undefined();
    }
    watchTeardown(env);
    return env.Undefined();
}

Napi::Value Recorder::GetMics(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const CaptureDeviceList devices = listCaptureDevices();
    switch (devices.status) {
    case CaptureDeviceList::Status::contextFailed:
        Napi::TypeError::New(env, "Failed to initialize context").ThrowAsJavaScriptException();
        return env.Null();
    case CaptureDeviceList::Status::enumerationFailed:
        Napi::TypeError::New(env, "Failed to get devices").ThrowAsJavaScriptException();
        return env.Null();
    case CaptureDeviceList::Status::ok:
        break;
    }
    return indexedNames(env, devices.names);
}

Napi::Value Recorder::PauseRecording(const Napi::CallbackInfo& info) {
    Recorder* self = recorderArgument(info);
    return Napi::Boolean::New(info.Env(), !self->stopDeferred && self->session.pause());
}

Napi::Value Recorder::ResumeRecording(const Napi::CallbackInfo& info) {
    Recorder* self = recorderArgument(info);
    return Napi::Boolean::New(info.Env(), !self->stopDeferred && self->session.resume());
}
