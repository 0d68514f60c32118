#include "platform/audio_stream_health.h"

#include <initializer_list>

namespace {

// libpulse's states (pa_context_state_t, pa_stream_state_t), called through the functions
// miniaudio loaded: the backend's own typedefs are private to its implementation.
constexpr int contextFailed = 5;
constexpr int contextTerminated = 6;
constexpr int streamFailed = 3;
constexpr int streamTerminated = 4;

using GetState = int (*)(void*);

}  // namespace

bool audioStreamBroken(const ma_device& device) {
    if (device.pContext == nullptr || device.pContext->backend != ma_backend_pulseaudio) return false;
    const auto& pulse = device.pContext->pulse;
    const auto contextState = reinterpret_cast<GetState>(pulse.pa_context_get_state);
    const auto streamState = reinterpret_cast<GetState>(pulse.pa_stream_get_state);
    if (contextState == nullptr || streamState == nullptr) return false;
    if (device.pulse.pPulseContext != nullptr) {
        const int state = contextState(device.pulse.pPulseContext);
        if (state == contextFailed || state == contextTerminated) return true;
    }
    for (void* stream : {device.pulse.pStreamCapture, device.pulse.pStreamPlayback}) {
        if (stream == nullptr) continue;
        const int state = streamState(stream);
        if (state == streamFailed || state == streamTerminated) return true;
    }
    return false;
}
