#include "addon/binding/video_frames_binding.h"

#include <cmath>

#include "platform/video_frame_reader.h"

Napi::Value ReadVideoFrames(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (info.Length() < 1 || !info[0].IsString()) {
        Napi::TypeError::New(env, "Expected a file path as the first argument").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    std::vector<double> times;
    if (info.Length() >= 2 && info[1].IsArray()) {
        const Napi::Array list = info[1].As<Napi::Array>();
        for (uint32_t i = 0; i < list.Length(); ++i) {
            const Napi::Value value = list.Get(i);
            if (!value.IsNumber() || !std::isfinite(value.As<Napi::Number>().DoubleValue())) {
                Napi::TypeError::New(env, "Frame times must be finite numbers of milliseconds").ThrowAsJavaScriptException();
                return env.Undefined();
            }
            times.push_back(std::max(0.0, value.As<Napi::Number>().DoubleValue()));
        }
    }
    uint32_t width = 0;
    if (info.Length() >= 3 && info[2].IsNumber()) {
        const double requested = info[2].As<Napi::Number>().DoubleValue();
        width = requested >= 1 && requested <= 8192 ? static_cast<uint32_t>(requested) : 0;
    }

    const std::string file = info[0].As<Napi::String>().Utf8Value();
    std::string error;
    std::unique_ptr<VideoFrameReader> reader = openVideoFrameReader(std::filesystem::u8path(file), error);
    if (!reader) {
        Napi::Error::New(env, error).ThrowAsJavaScriptException();
        return env.Undefined();
    }
    const VideoFileFacts& facts = reader->facts();
    Napi::Object result = Napi::Object::New(env);
    result.Set("codec", facts.codec);
    result.Set("width", facts.width);
    result.Set("height", facts.height);
    result.Set("durationMs", static_cast<double>(facts.duration) / 10000.0);
    result.Set("samples", static_cast<double>(facts.samples));
    Napi::Array frames = Napi::Array::New(env, times.size());
    for (uint32_t i = 0; i < times.size(); ++i) {
        VideoFrameImage image;
        if (!reader->frameAt(static_cast<int64_t>(times[i] * 10000.0), width, image, error)) {
            Napi::Error::New(env, "frame at " + std::to_string(times[i]) + " ms: " + error).ThrowAsJavaScriptException();
            return env.Undefined();
        }
        Napi::Object frame = Napi::Object::New(env);
        frame.Set("timeMs", static_cast<double>(image.time) / 10000.0);
        frame.Set("width", image.width);
        frame.Set("height", image.height);
        frame.Set("data", Napi::Buffer<uint8_t>::Copy(env, image.rgba.data(), image.rgba.size()));
        frames.Set(i, frame);
    }
    result.Set("frames", frames);
    return result;
}
