#include "platform/audio_stream_state.h"

#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <initializer_list>

namespace {

// The state calls miniaudio loaded, with libpulse's own types.
using ContextState = decltype(&::pa_context_get_state);
using StreamState = decltype(&::pa_stream_get_state);

// The libpulse calls miniaudio does not load, from the library it has already opened.
struct LatencyCalls {
    decltype(&::pa_stream_update_timing_info) updateTimingInfo = nullptr;
    decltype(&::pa_stream_get_latency) getLatency = nullptr;
    decltype(&::pa_stream_get_timing_info) getTimingInfo = nullptr;
    decltype(&::pa_operation_unref) operationUnref = nullptr;

    LatencyCalls() {
        void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;  // kept open for the process, as miniaudio keeps it
        updateTimingInfo = reinterpret_cast<decltype(updateTimingInfo)>(dlsym(library, "pa_stream_update_timing_info"));
        getLatency = reinterpret_cast<decltype(getLatency)>(dlsym(library, "pa_stream_get_latency"));
        getTimingInfo = reinterpret_cast<decltype(getTimingInfo)>(dlsym(library, "pa_stream_get_timing_info"));
        operationUnref = reinterpret_cast<decltype(operationUnref)>(dlsym(library, "pa_operation_unref"));
    }
    bool usable() const { return updateTimingInfo && getLatency && getTimingInfo && operationUnref; }
};

int64_t microsecondsSince(const timeval& then) {
    timeval now{};
    gettimeofday(&now, nullptr);
    return (static_cast<int64_t>(now.tv_sec) - then.tv_sec) * 1000000 + (static_cast<int64_t>(now.tv_usec) - then.tv_usec);
}

// Straight from the sound card: miniaudio hands each read to the callback at once, so the frames
// captured after them are those waiting in the card's buffer (snd_pcm_avail brings the card's
// position up to date first). Without this the newest frame would be taken as captured when the
// callback ran, which a card that delivers a period at a time (or a device thread woken late)
// puts tens of milliseconds late.
std::optional<int64_t> alsaCaptureAge(ma_device& device, uint32_t frameCount) {
    using Avail = long (*)(void*);  // snd_pcm_sframes_t snd_pcm_avail(snd_pcm_t*)
    const auto avail = reinterpret_cast<Avail>(device.pContext->alsa.snd_pcm_avail);
    void* pcm = device.alsa.pPCMCapture;
    const uint32_t cardRate = device.capture.internalSampleRate;
    if (avail == nullptr || pcm == nullptr || cardRate == 0 || device.sampleRate == 0) return std::nullopt;
    const long waiting = avail(pcm);
    if (waiting < 0) return std::nullopt;  // an overrun the next read recovers from
    // A full buffer says nothing about when its frames came: a card about to overrun, or a device
    // with no clock of its own (ALSA's null device is always full).
    const long buffer = static_cast<long>(device.capture.internalPeriodSizeInFrames) * device.capture.internalPeriods;
    if (waiting >= buffer) return std::nullopt;
    return static_cast<int64_t>(waiting) * 10000000 / cardRate + static_cast<int64_t>(frameCount) * 10000000 / device.sampleRate;
}

}  // namespace

bool audioStreamBroken(const ma_device& device) {
    if (device.pContext == nullptr || device.pContext->backend != ma_backend_pulseaudio) return false;
    const auto& pulse = device.pContext->pulse;
    const auto contextState = reinterpret_cast<ContextState>(pulse.pa_context_get_state);
    const auto streamState = reinterpret_cast<StreamState>(pulse.pa_stream_get_state);
    if (contextState == nullptr || streamState == nullptr) return false;
    if (device.pulse.pPulseContext != nullptr) {
        const pa_context_state_t state = contextState(static_cast<pa_context*>(device.pulse.pPulseContext));
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) return true;
    }
    for (void* stream : {device.pulse.pStreamCapture, device.pulse.pStreamPlayback}) {
        if (stream == nullptr) continue;
        const pa_stream_state_t state = streamState(static_cast<pa_stream*>(stream));
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) return true;
    }
    return false;
}

std::optional<int64_t> captureAgeTicks(ma_device& device, uint32_t frameCount) {
    if (device.pContext == nullptr) return std::nullopt;
    if (device.pContext->backend == ma_backend_alsa) return alsaCaptureAge(device, frameCount);
    if (device.pContext->backend != ma_backend_pulseaudio) return std::nullopt;
    auto* stream = static_cast<pa_stream*>(device.pulse.pStreamCapture);
    static const LatencyCalls calls;
    if (stream == nullptr || !calls.usable()) return std::nullopt;
    // The data callback runs on the device's main loop thread, between miniaudio's peek and drop
    // of the fragment: the stream's read position is the fragment's first frame (miniaudio may
    // have regrouped the frames into its fixed period since, which this does not see). The
    // request updates the timing for the next callback; this one reads the last update, moved
    // on by the time since it was taken (the server kept recording meanwhile).
    if (pa_operation* update = calls.updateTimingInfo(stream, nullptr, nullptr)) calls.operationUnref(update);
    pa_usec_t latency = 0;
    int negative = 0;
    const pa_timing_info* timing = calls.getTimingInfo(stream);
    if (timing == nullptr || calls.getLatency(stream, &latency, &negative) != 0) return std::nullopt;
    const int64_t microseconds = (negative ? -static_cast<int64_t>(latency) : static_cast<int64_t>(latency)) +
                                 microsecondsSince(timing->timestamp);
    return microseconds * 10;
}
