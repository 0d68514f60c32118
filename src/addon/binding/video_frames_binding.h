#pragma once

#include <napi.h>

// The module-level readVideoFrames(file, timesMs, width): a recorded video's facts and the frames
// on show at the given times, as RGBA. Used by `desktracks inspect` for its overview picture.
Napi::Value ReadVideoFrames(const Napi::CallbackInfo& info);
