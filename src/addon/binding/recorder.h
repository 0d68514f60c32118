#pragma once

#include <napi.h>

#include "addon/recording_session.h"

// The JavaScript class: reads options into the session's settings and drives start and end.
class Recorder : public Napi::ObjectWrap<Recorder> {
public:
    static Napi::Function DefineClass(Napi::Env env);

    explicit Recorder(const Napi::CallbackInfo& info);
    ~Recorder() override;

private:
    Napi::Value Start(const Napi::CallbackInfo& info);
    Napi::Value End(const Napi::CallbackInfo& info);
    Napi::Value GetMics(const Napi::CallbackInfo& info);

    RecordingSession session;
};
