#pragma once

#include <optional>
#include <string>

#include "miniaudio.h"

// Where the sound that the default output plays can be captured from, as a miniaudio device.
// Windows loops the default render endpoint back through WASAPI; PulseAudio and PipeWire offer
// it as the monitor source of the default sink.
struct SystemAudioSource {
    ma_device_type deviceType;
    ma_backend backend;
    std::optional<ma_device_id> captureDeviceId;  // none: the backend's default
};

// Nothing when the platform's audio system shows no such source.
std::optional<SystemAudioSource> findSystemAudioSource();

// Why no system audio can be recorded at all where the platform needs a sound server for it and
// none answers, as a plain sentence; empty otherwise.
std::string soundServerProblem();
