#pragma once

#include <cstdint>

#include "miniaudio.h"

// The data procedure of both audio recorders: appends the captured frames to the WAV encoder
// that the device carries as its user data.
void audioDataCallback(ma_device* device, void* output, const void* input, ma_uint32 frameCount);

// Appends `frames` frames of silence in the track format.
void writeSilence(ma_encoder* encoder, uint64_t frames);
