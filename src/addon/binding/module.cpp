#include <napi.h>

#include "addon/binding/recorder.h"
#include "platform/camera.h"
#include "platform/process_setup.h"
#include "webcam/webcam_recorder.h"

// [{ index, name }] of the cameras, in the order webcamIndex chooses from.
static Napi::Value ListCameras(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const std::unique_ptr<CameraPlatform> platform = createCameraPlatform();
    const CameraList cameras = listCameras(*platform);
    if (!cameras.ok) {
        Napi::Error::New(env, "Failed to list cameras").ThrowAsJavaScriptException();
        return env.Null();
    }
    Napi::Array result = Napi::Array::New(env, cameras.names.size());
    for (uint32_t i = 0; i < cameras.names.size(); ++i) {
        Napi::Object camera = Napi::Object::New(env);
        camera.Set("index", Napi::Number::New(env, i));
        camera.Set("name", Napi::String::New(env, cameras.names[i]));
        result.Set(i, camera);
    }
    return result;
}

static Napi::Object Init(Napi::Env env, Napi::Object exports) {
    prepareProcessForRecorderThreads();
    exports.Set("Recorder", Recorder::DefineClass(env));
    exports.Set("listCameras", Napi::Function::New(env, ListCameras, "listCameras"));
    return exports;
}

// NAPI_VERSION is 8 (set by the build), which node_api_module_get_api_version_v1 reports: one
// binary serves every Node and Electron release with Node-API 8.
NODE_API_MODULE(desktracks, Init)
