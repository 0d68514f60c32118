#include "addon/binding/device_list.h"

#include "audio/audio_backend.h"
#include "audio/capture_device_list.h"
#include "platform/camera.h"
#include "platform/video_capture.h"
#include "screen/display_list.h"
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

Napi::Value ListDisplays(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const std::unique_ptr<VideoCapturePlatform> platform = createVideoCapturePlatform();
    std::unique_ptr<VideoFactory> factory;
    if (failed(platform->createFactory(factory)) || !factory) {
        Napi::Error::New(env, "Failed to list displays").ThrowAsJavaScriptException();
        return env.Null();
    }
    const std::vector<DisplayEntry> displays = listDisplays(*factory);
    Napi::Array list = Napi::Array::New(env, displays.size());
    for (uint32_t i = 0; i < displays.size(); ++i) {
        const DisplayEntry& d = displays[i];
        Napi::Object entry = Napi::Object::New(env);
        entry.Set("index", Napi::Number::New(env, d.index));
        entry.Set("name", Napi::String::New(env, d.output.deviceName));
        entry.Set("left", Napi::Number::New(env, d.output.left));
        entry.Set("top", Napi::Number::New(env, d.output.top));
        entry.Set("right", Napi::Number::New(env, d.output.right));
        entry.Set("bottom", Napi::Number::New(env, d.output.bottom));
        entry.Set("primary", Napi::Boolean::New(env, d.output.primary));
        entry.Set("scale", Napi::Number::New(env, d.output.scale));
        list.Set(i, entry);
    }
    return list;
}

Napi::Value ListMicDetails(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const CaptureDeviceList devices = listCaptureDevices();
    if (devices.status != CaptureDeviceList::Status::ok) return env.Null();
    Napi::Array list = indexedNames(env, devices.names);
    const bool soundServer = isSoundServerBackend(devices.backend);
    for (uint32_t i = 0; i < devices.names.size(); ++i) {
        Napi::Object device = list.Get(i).As<Napi::Object>();
        device.Set("placeholder", Napi::Boolean::New(env, devices.placeholders[i]));
        device.Set("soundServer", Napi::Boolean::New(env, soundServer));
    }
    return list;
}
