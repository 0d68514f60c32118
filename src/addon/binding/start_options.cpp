#include "addon/binding/start_options.h"

#include <cmath>
#include <limits>

#include "utf8_path.h"

namespace {

// Truncates toward zero; NaN becomes 0 and values beyond int32 stop at its limits.
int32_t toInt32Saturated(double value) {
    if (std::isnan(value)) return 0;
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

bool readArea(const Napi::Env& env, const Napi::Value& value, CaptureArea& area) {
    if (!value.IsArray()) {
        Napi::TypeError::New(env, "Area must be an array").ThrowAsJavaScriptException();
        return false;
    }
    const Napi::Array array = value.As<Napi::Array>();
    if (array.Length() != 4) {
        Napi::TypeError::New(env, "Area array must have exactly four elements").ThrowAsJavaScriptException();
        return false;
    }
    int32_t* const fields[] = {&area.left, &area.top, &area.right, &area.bottom};
    for (uint32_t i = 0; i < 4; ++i) {
        const Napi::Value element = array.Get(i);
        if (!element.IsNumber()) {
            Napi::TypeError::New(env, "Area array should contain only numbers").ThrowAsJavaScriptException();
            return false;
        }
        *fields[i] = toInt32Saturated(element.As<Napi::Number>().DoubleValue());
    }
    return true;
}

void readInt32(const Napi::Object& options, const char* key, int32_t& target) {
    if (!options.Has(key)) return;
    const Napi::Value value = options.Get(key);
    if (value.IsNumber()) target = value.As<Napi::Number>().Int32Value();
}

// 'first', 'best' or { width, height, fps }; anything else is refused with the same message.
bool readWebcamFormat(const Napi::Env& env, const Napi::Value& value, WebcamFormat& format) {
    const auto refuse = [&env] {
        Napi::TypeError::New(env, "webcamFormat must be 'first', 'best' or { width, height, fps } with positive numbers")
            .ThrowAsJavaScriptException();
        return false;
    };
    if (value.IsString()) {
        const std::string text = value.As<Napi::String>().Utf8Value();
        if (text == "first") format = WebcamFormat{};
        else if (text == "best") format = WebcamFormat{WebcamFormat::Rule::best, 0, 0, 0};
        else return refuse();
        return true;
    }
    if (!value.IsObject() || value.IsArray()) return refuse();
    const Napi::Object object = value.As<Napi::Object>();
    double numbers[3] = {};
    const char* keys[] = {"width", "height", "fps"};
    for (int i = 0; i < 3; ++i) {
        const Napi::Value field = object.Get(keys[i]);
        if (!field.IsNumber()) return refuse();
        numbers[i] = field.As<Napi::Number>().DoubleValue();
        // Sizes and rates no camera comes near are mistakes, not wishes.
        const double limit = i < 2 ? 65536 : 10000;
        if (!std::isfinite(numbers[i]) || numbers[i] <= 0 || numbers[i] > limit) return refuse();
    }
    format = WebcamFormat{WebcamFormat::Rule::nearest, static_cast<uint32_t>(std::lround(numbers[0])),
                          static_cast<uint32_t>(std::lround(numbers[1])), numbers[2]};
    return true;
}

void readBoolean(const Napi::Object& options, const char* key, bool& target) {
    if (!options.Has(key)) return;
    const Napi::Value value = options.Get(key);
    if (value.IsBoolean()) target = value.As<Napi::Boolean>().Value();
}

}  // namespace

bool readStartOptions(const Napi::Object& options, RecordingSettings& settings) {
    if (options.Has("area") && !readArea(options.Env(), options.Get("area"), settings.area)) return false;
    if (options.Has("projectDir")) {
        const Napi::Value value = options.Get("projectDir");
        if (value.IsString()) {
            const std::string text = value.As<Napi::String>().Utf8Value();
            // The operating system would see only the part before it: another folder.
            if (text.find('\0') != std::string::npos) {
                Napi::TypeError::New(options.Env(), "projectDir must not contain a NUL character").ThrowAsJavaScriptException();
                return false;
            }
            settings.projectDir = pathFromUtf8(text);
        }
    }
    readInt32(options, "micIndex", settings.micIndex);
    readInt32(options, "systemAudioIndex", settings.systemAudioIndex);
    readInt32(options, "webcamIndex", settings.webcamIndex);
    readInt32(options, "bitrate", settings.bitrate);
    readInt32(options, "fps", settings.fps);
    if (options.Has("webcamFormat") && !options.Get("webcamFormat").IsUndefined() &&
        !readWebcamFormat(options.Env(), options.Get("webcamFormat"), settings.webcamFormat)) {
        return false;
    }
    if (options.Has("display") && !options.Get("display").IsUndefined()) {
        // A display is chosen on purpose: anything but an index would record another one.
        const Napi::Value value = options.Get("display");
        const double index = value.IsNumber() ? value.As<Napi::Number>().DoubleValue() : -2;
        if (!(index >= -1 && index <= 255 && std::floor(index) == index)) {
            Napi::TypeError::New(options.Env(), "display must be an index from listDisplays(), or -1").ThrowAsJavaScriptException();
            return false;
        }
        settings.display = static_cast<int32_t>(index);
    }
    // A grid of samples and samples only at changes contradict each other: refused, keeping the
    // values the instance held.
    bool constantFrameRate = settings.constantFrameRate;
    bool changesOnly = settings.changesOnly;
    readBoolean(options, "constantFrameRate", constantFrameRate);
    readBoolean(options, "changesOnly", changesOnly);
    if (constantFrameRate && changesOnly) {
        Napi::TypeError::New(options.Env(), "changesOnly and constantFrameRate cannot both be true").ThrowAsJavaScriptException();
        return false;
    }
    settings.constantFrameRate = constantFrameRate;
    settings.changesOnly = changesOnly;
    readBoolean(options, "cursorImages", settings.cursorImages);
    return true;
}
