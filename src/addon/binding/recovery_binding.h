#pragma once

#include <napi.h>

// The module-level recoverProject(dir): finishes an interrupted recording's files and returns
// [{ file, status, seconds, detail }]. Used by recover() in lib/recover.js.
Napi::Value RecoverProject(const Napi::CallbackInfo& info);
