#pragma once

#include <atomic>

#include <spdlog/fwd.h>

#include "audio/audio_device.h"
#include "audio/wav_track_file.h"
#include "miniaudio.h"

// A capture device configuration that delivers the track format straight into `file`.
ma_device_config trackCaptureConfig(ma_device_type type, const ma_device_id* device, WavTrackFile& file);

// Starts the opened `device`, records into `file` until `running` falls, then stops the device
// and completes the file. When the device does not start, logs `startFailedLine` and returns; when
// the file could not be written to the end, logs one error line starting with `logPrefix`.
void recordUntilLowered(AudioDevice& device, WavTrackFile& file, const std::atomic<bool>& running,
                        spdlog::logger& log, const char* startFailedLine, const char* logPrefix);
