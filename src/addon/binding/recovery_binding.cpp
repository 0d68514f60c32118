#include "addon/binding/recovery_binding.h"

#include <system_error>

#include "addon/project_recovery.h"
#include "utf8_path.h"

Napi::Value RecoverProject(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    if (info.Length() < 1 || !info[0].IsString()) {
        Napi::TypeError::New(env, "Expected a project directory as the first argument").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    const std::string text = info[0].As<Napi::String>().Utf8Value();
    if (text.find('\0') != std::string::npos) {
        Napi::TypeError::New(env, "The project directory must not contain a NUL character").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    const std::filesystem::path dir = pathFromUtf8(text);
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) {
        Napi::Error::New(env, "\"" + text + "\" is not a directory").ThrowAsJavaScriptException();
        return env.Undefined();
    }
    std::vector<RecoveredFile> report;
    try {
        report = recoverProject(dir);
    } catch (const std::exception& e) {
        Napi::Error::New(env, std::string("Recovery failed: ") + e.what()).ThrowAsJavaScriptException();
        return env.Undefined();
    }
    Napi::Array list = Napi::Array::New(env, report.size());
    for (uint32_t i = 0; i < report.size(); ++i) {
        Napi::Object entry = Napi::Object::New(env);
        entry.Set("file", report[i].file);
        entry.Set("status", report[i].status);
        if (report[i].seconds >= 0) entry.Set("seconds", report[i].seconds);
        entry.Set("detail", report[i].detail);
        list.Set(i, entry);
    }
    return list;
}
