#include <napi.h>

#include "addon/binding/device_list.h"
#include "addon/binding/live_status_binding.h"
#include "addon/binding/recorder.h"
#include "addon/binding/recovery_binding.h"
#include "addon/binding/video_frames_binding.h"
#include "platform/host_imports.h"
#include "platform/process_setup.h"

static Napi::Object Init(Napi::Env env, Napi::Object exports) {
    bindHostImports();  // before any Node-API call
    prepareProcessForRecorderThreads();
    exports.Set("Recorder", Recorder::DefineClass(env));
    exports.Set("stopRecording", Napi::Function::New<Recorder::StopRecording>(env, "stopRecording"));
    exports.Set("pauseRecording", Napi::Function::New<Recorder::PauseRecording>(env, "pauseRecording"));
    exports.Set("resumeRecording", Napi::Function::New<Recorder::ResumeRecording>(env, "resumeRecording"));
    exports.Set("getStatus", Napi::Function::New<GetStatus>(env, "getStatus"));
    exports.Set("readVideoFrames", Napi::Function::New<ReadVideoFrames>(env, "readVideoFrames"));
    exports.Set("listCameras", Napi::Function::New(env, ListCameras, "listCameras"));
    exports.Set("listDisplays", Napi::Function::New(env, ListDisplays, "listDisplays"));
    exports.Set("listMicDetails", Napi::Function::New(env, ListMicDetails, "listMicDetails"));
    exports.Set("recoverProject", Napi::Function::New<RecoverProject>(env, "recoverProject"));
    return exports;
}

// NAPI_VERSION is 8 (set by the build), which node_api_module_get_api_version_v1 reports: one
// binary serves every Node and Electron release with Node-API 8.
NODE_API_MODULE(desktracks, Init)
