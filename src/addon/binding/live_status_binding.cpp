#include "addon/binding/live_status_binding.h"

#include "recording_status.h"

namespace {

Napi::Object audioTrack(Napi::Env env, uint64_t frames, double peak) {
    Napi::Object track = Napi::Object::New(env);
    track.Set("frames", Napi::Number::New(env, static_cast<double>(frames)));
    track.Set("peak", Napi::Number::New(env, peak));
    return track;
}

Napi::Object counter(Napi::Env env, const char* key, uint64_t value) {
    Napi::Object object = Napi::Object::New(env);
    object.Set(key, Napi::Number::New(env, static_cast<double>(value)));
    return object;
}

}  // namespace

Napi::Value GetStatus(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const RecordingStatusSnapshot s = readRecordingStatus();
    Napi::Object status = Napi::Object::New(env);
    status.Set("recording", Napi::Boolean::New(env, s.recording));
    status.Set("elapsedMs", Napi::Number::New(env, s.elapsedMs));
    Napi::Object screen = counter(env, "samples", s.screenSamples);
    screen.Set("samplesLastSecond", Napi::Number::New(env, s.screenSamplesLastSecond));
    status.Set("screen", screen);
    status.Set("webcam", counter(env, "samples", s.webcamSamples));
    status.Set("microphone", audioTrack(env, s.microphoneFrames, s.microphonePeak));
    status.Set("systemAudio", audioTrack(env, s.systemAudioFrames, s.systemAudioPeak));
    status.Set("input", counter(env, "events", s.inputEvents));
    Napi::Array failures = Napi::Array::New(env, s.failures.size());
    for (uint32_t i = 0; i < s.failures.size(); ++i) {
        Napi::Object failure = Napi::Object::New(env);
        failure.Set("track", Napi::String::New(env, s.failures[i].track));
        failure.Set("message", Napi::String::New(env, s.failures[i].message));
        failures.Set(i, failure);
    }
    status.Set("failures", failures);
    Napi::Array warnings = Napi::Array::New(env, s.warnings.size());
    for (uint32_t i = 0; i < s.warnings.size(); ++i) {
        Napi::Object warning = Napi::Object::New(env);
        warning.Set("track", Napi::String::New(env, s.warnings[i].track));
        warning.Set("code", Napi::String::New(env, s.warnings[i].code));
        warning.Set("message", Napi::String::New(env, s.warnings[i].message));
        warnings.Set(i, warning);
    }
    status.Set("warnings", warnings);
    return status;
}
