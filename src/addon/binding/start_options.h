#pragma once

#include <napi.h>

#include "recording_settings.h"

// Reads start()'s options into `settings`, key by key; a key that is absent, or present with
// another type (except `area`), keeps the value held. Returns false after throwing a TypeError
// for a malformed `area` (the elements read before the bad one stay stored) or for `changesOnly`
// with `constantFrameRate` (both keep the values held).
bool readStartOptions(const Napi::Object& options, RecordingSettings& settings);
