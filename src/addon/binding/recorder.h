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

    // Ends the recording as end() would when the host goes away with it running: the process's
    // "exit" event (process.exit(), an uncaught exception, an empty event loop) and, for what
    // does not emit it (a terminated worker), the environment's clean-up hook.
    void watchTeardown(Napi::Env env);
    static void endAtTeardown(void* recorder);
    void finishAndForgetTeardown();

    RecordingSession session;
    napi_env teardownEnv = nullptr;  // set while the clean-up hook is installed
    Napi::FunctionReference exitListener;
};
