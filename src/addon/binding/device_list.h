#pragma once

#include <napi.h>

#include <string>
#include <vector>

// [{ index, name }, ...] in the list's order: the shape of getMics() and listCameras().
Napi::Array indexedNames(Napi::Env env, const std::vector<std::string>& names);

// The module function listCameras(): the cameras webcamIndex chooses from.
Napi::Value ListCameras(const Napi::CallbackInfo& info);

// The module function listDisplays(): the displays the `display` start option chooses from, as
// { index, name, left, top, right, bottom, primary, scale } in virtual-desktop pixels.
Napi::Value ListDisplays(const Napi::CallbackInfo& info);
// The module function listMicDetails(): getMics()'s list with what a default choice needs to know,
// [{ index, name, placeholder, soundServer }, ...]; null when the list cannot be read.
Napi::Value ListMicDetails(const Napi::CallbackInfo& info);
