#include "platform/system_audio_source.h"

std::optional<SystemAudioSource> findSystemAudioSource() {
    // WASAPI loopback of the default render endpoint: no device identifier.
    return SystemAudioSource{ma_device_type_loopback, ma_backend_wasapi, std::nullopt};
}
