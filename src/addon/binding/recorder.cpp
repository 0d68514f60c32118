#include "addon/binding/recorder.h"

#include <memory>

#include "addon/binding/device_list.h"
#include "addon/binding/start_options.h"
#include "audio/capture_device_list.h"

Napi::Function Recorder::DefineClass(Napi::Env env) {
    return ObjectWrap<Recorder>::DefineClass(env, "Recorder",
                                             {
                                                 InstanceMethod<&Recorder::Start>("start", napi_default),
                                                 InstanceMethod<&Recorder::End>("end", napi_default),
                                                 InstanceMethod<&Recorder::GetMics>("getMics", napi_default),
                                             });
}

Recorder::Recorder(const Napi::CallbackInfo& info) : ObjectWrap<Recorder>(info) {}

Recorder::~Recorder() {
    // Collected while recording: complete the files as end() would rather than lose them.
    finishAndForgetTeardown();
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
    self->session.finish();
}

void Recorder::finishAndForgetTeardown() {
    session.finish();
    if (teardownEnv != nullptr) {
        napi_remove_env_cleanup_hook(teardownEnv, endAtTeardown, this);
        teardownEnv = nullptr;
    }
}

Napi::Value Recorder::End(const Napi::CallbackInfo& info) {
    finishAndForgetTeardown();
    if (!exitListener.IsEmpty()) {
        // A host that records many times must not collect one listener per recording.
        const Napi::Value process = info.Env().Global().Get("process");
        const Napi::Value remove = process.IsObject() ? process.As<Napi::Object>().Get("removeListener") : info.Env().Undefined();
        if (remove.IsFunction()) remove.As<Napi::Function>().Call(process, {Napi::String::New(info.Env(), "exit"), exitListener.Value()});
        exitListener.Reset();
    }
    return info.Env().Undefined();
}

Napi::Value Recorder::Start(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (info.Length() < 1 || !info[0].IsObject()) {
        Napi::TypeError::New(env, "Expected an object as the first argument").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    if (RecordingSession::anyRecording()) {
        // Checked before the options are read, so the running recording's settings stay as they are.
        Napi::Error::New(env, "A recording is already running in this process; call end() before starting another")
            .ThrowAsJavaScriptException();
        return env.Undefined();
    }
    if (!readStartOptions(info[0].As<Napi::Object>(), session.settings)) return env.Undefined();
    try {
        session.begin();
    } catch (const RecordingError& e) {
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
