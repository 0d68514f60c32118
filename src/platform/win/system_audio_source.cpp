#include "platform/system_audio_source.h"

std::optional<SystemAudioSource> findSystemAudioSource() {
    // WASAPI loopback of the default render endpoint: no device identifier.
    return SystemAudioSource{ma_device_type_loopback, ma_backend_wasapi, std::nullopt};
}

// WASAPI is the system's own audio service: there is no separate server to miss.
std::string soundServerProblem() { return {}; }
