#include "addon/binding/device_list.h"

#include "platform/camera.h"
#include "webcam/webcam_recorder.h"

Napi::Array indexedNames(Napi::Env env, const std::vector<std::string>& names) {
    Napi::Array list = Napi::Array::New(env, names.size());
    for (uint32_t i = 0; i < names.size(); ++i) {
        Napi::Object device = Napi::Object::New(env);
        device.Set("index", Napi::Number::New(env, i));
        device.Set("name", Napi::String::New(env, names[i]));
        list.Set(i, device);
    }
    return list;
}

Napi::Value ListCameras(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const std::unique_ptr<CameraPlatform> platform = createCameraPlatform();
    const CameraList cameras = listCameras(*platform);
    if (!cameras.ok) {
        Napi::Error::New(env, "Failed to list cameras").ThrowAsJavaScriptException();
        return env.Null();
    }
    return indexedNames(env, cameras.names);
}
