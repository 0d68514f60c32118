#pragma once

#include <napi.h>

// The module-level getStatus(): a snapshot of the running (or last) recording's live figures.
Napi::Value GetStatus(const Napi::CallbackInfo& info);
