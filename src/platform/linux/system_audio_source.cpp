#include "platform/system_audio_source.h"

#include <cstring>
#include <string>

#include "audio/audio_backend.h"

namespace {

class PulseContext {
public:
    PulseContext() {
        const ma_backend backends[] = {ma_backend_pulseaudio};
        ready = ma_context_init(backends, 1, nullptr, &context) == MA_SUCCESS;
    }
    ~PulseContext() {
        if (ready) ma_context_uninit(&context);
    }
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    bool ready = false;
    ma_context context;
};

std::string pulseName(const ma_device_info& device) {
    return std::string(device.id.pulse, strnlen(device.id.pulse, sizeof device.id.pulse));
}

}  // namespace

std::optional<SystemAudioSource> findSystemAudioSource() {
    // The monitor is looked up by name rather than through @DEFAULT_MONITOR@, which
    // pipewire-pulse does not resolve.
    PulseContext pulse;
    if (!pulse.ready) return std::nullopt;
    ma_device_info* playback = nullptr;
    ma_uint32 playbackCount = 0;
    ma_device_info* capture = nullptr;
    ma_uint32 captureCount = 0;
    if (ma_context_get_devices(&pulse.context, &playback, &playbackCount, &capture, &captureCount) != MA_SUCCESS) {
        return std::nullopt;
    }

    std::string monitorName;
    for (ma_uint32 i = 0; i < playbackCount; ++i) {
        if (playback[i].isDefault) monitorName = pulseName(playback[i]) + ".monitor";
    }
    if (monitorName.empty()) return std::nullopt;

    for (ma_uint32 i = 0; i < captureCount; ++i) {
        if (pulseName(capture[i]) == monitorName) {
            return SystemAudioSource{ma_device_type_capture, ma_backend_pulseaudio, capture[i].id};
        }
    }
    return std::nullopt;
}

std::string soundServerProblem() {
    if (PulseContext().ready) return {};
    return std::string(noSoundServerText) + "; system audio is the monitor of the sound server's output, so there is none to record";
}
