#pragma once

#include <memory>
#include <optional>
#include <thread>

#include <napi.h>

#include "addon/binding/recorder_events.h"
#include "addon/recording_session.h"

// The JavaScript class: reads options into the session's settings and drives start and end. Its
// additive operations (stop, pause, resume) are module functions that take the Recorder, so the
// class keeps exactly its three methods; lib/index.js puts them on its subclass.
class Recorder : public Napi::ObjectWrap<Recorder> {
public:
    static Napi::Function DefineClass(Napi::Env env);

    explicit Recorder(const Napi::CallbackInfo& info);
    ~Recorder() override;

    // stopRecording(recorder): a Promise that settles once every file is complete.
    static Napi::Value StopRecording(const Napi::CallbackInfo& info);
    // pauseRecording(recorder) / resumeRecording(recorder): true when the recording changed state.
    static Napi::Value PauseRecording(const Napi::CallbackInfo& info);
    static Napi::Value ResumeRecording(const Napi::CallbackInfo& info);

private:
    Napi::Value Start(const Napi::CallbackInfo& info);
    Napi::Value End(const Napi::CallbackInfo& info);
    Napi::Value GetMics(const Napi::CallbackInfo& info);

    // The Recorder passed as a module function's first argument; throws a TypeError otherwise.
    static Recorder* recorderArgument(const Napi::CallbackInfo& info);
    Napi::Value Stop(Napi::Env env);
    // On the JavaScript thread, when the stopping thread has finished the files.
    void stopped();

    // Ends the recording as end() would when the host goes away with it running: the process's
    // "exit" event (process.exit(), an uncaught exception, an empty event loop) and, for what
    // does not emit it (a terminated worker), the environment's clean-up hook.
    void watchTeardown(Napi::Env env);
    static void endAtTeardown(void* recorder);
    void finishAndForgetTeardown();
    void forgetExitListener(Napi::Env env);
    // Waits for a stop() under way to finish the files.
    void joinStopper();
    void closeEvents();

    RecordingSession session;
    std::shared_ptr<RecorderEvents> events;  // the running recording's, until it has ended
    napi_env teardownEnv = nullptr;  // set while the clean-up hook is installed
    Napi::FunctionReference exitListener;
    // A stop() under way: the thread finishing the files, the promise's settlement and a strong
    // reference that keeps the Recorder alive until then.
    std::thread stopper;
    std::optional<Napi::Promise::Deferred> stopDeferred;
    Napi::Reference<Napi::Promise> stopPromise;
    Napi::ObjectReference keepAlive;
};
