#include "platform/silent_render_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <vector>

#include "audio/audio_backend.h"
#include "miniaudio.h"
#include "platform/audio_stream_state.h"

namespace {

// A miniaudio playback stream on the default output shaped like a WASAPI shared-mode client: the
// keep-alive queues frames of silence, the device thread plays them off the queue. miniaudio
// hands the callback a zeroed buffer, so the stream is silent whether or not the queue runs dry.
class MiniaudioSilentRenderStream final : public SilentRenderStream {
public:
    ~MiniaudioSilentRenderStream() override {
        renderClientReady = false;
        if (deviceOpen) {
            ma_device_stop(&device);
            ma_device_uninit(&device);
        }
        if (contextOpen) ma_context_uninit(&context);
    }

    std::string noSoundServerReason() const override {
        // Without a server miniaudio falls back to ALSA, whose default output here is no use.
        if (contextOpen && isSoundServerBackend(context.backend)) return {};
        return std::string(noSoundServerText) + "; no silence is played";
    }

    StreamStatus createEnumerator() override {
        const ma_result result = ma_context_init(nullptr, 0, nullptr, &context);
        contextOpen = result == MA_SUCCESS;
        return result;
    }

    StreamStatus openDefaultEndpoint() override {
        // Silence is only of use to a sound server's monitor; on a raw ALSA device it would
        // only hold the sound card.
        if (!isSoundServerBackend(context.backend)) return MA_NO_BACKEND;
        ma_device_info* playback = nullptr;
        ma_uint32 playbackCount = 0;
        const ma_result result = ma_context_get_devices(&context, &playback, &playbackCount, nullptr, nullptr);
        if (result != MA_SUCCESS) return result;
        if (playbackCount == 0) return MA_NO_DEVICE;
        // The backend's default when none is flagged as the default.
        for (ma_uint32 i = 0; i < playbackCount; ++i) {
            if (playback[i].isDefault) endpointId = playback[i].id;
        }
        return MA_SUCCESS;
    }

    StreamStatus activateClient() override {
        return ma_context_get_device_info(&context, ma_device_type_playback, endpointIdOrDefault(), &endpointInfo);
    }

    StreamStatus getMixFormat(StreamMixFormat& format) override {
        // The output's own format, so the stream needs no conversion; the library's defaults
        // where the backend does not say.
        ma_format sampleFormat = ma_format_f32;
        ma_uint32 channels = 2;
        ma_uint32 rate = 48000;
        if (endpointInfo.nativeDataFormatCount > 0) {
            const auto& native = endpointInfo.nativeDataFormats[0];
            if (native.format != ma_format_unknown) sampleFormat = native.format;
            if (native.channels != 0) channels = native.channels;
            if (native.sampleRate != 0) rate = native.sampleRate;
        }
        mixFormat = format = StreamMixFormat{rate, static_cast<uint16_t>(channels),
                                             static_cast<uint16_t>(ma_get_bytes_per_sample(sampleFormat) * 8)};
        deviceFormat = sampleFormat;
        return MA_SUCCESS;
    }

    StreamStatus initialize(int64_t bufferDuration100ns) override {
        const uint64_t frames = static_cast<uint64_t>(std::max<int64_t>(bufferDuration100ns, 0)) * mixFormat.framesPerSecond / 10000000;
        if (frames == 0 || frames > UINT32_MAX) return MA_INVALID_ARGS;
        ma_device_config config = ma_device_config_init(ma_device_type_playback);
        config.playback.pDeviceID = endpointIdOrDefault();
        config.playback.format = deviceFormat;
        config.playback.channels = mixFormat.channels;
        config.sampleRate = mixFormat.framesPerSecond;
        config.dataCallback = playFromQueue;
        config.notificationCallback = noteStopOrResume;
        config.pUserData = this;
        const ma_result result = ma_device_init(&context, &config, &device);
        if (result != MA_SUCCESS) return result;
        deviceOpen = true;
        bufferFrames = static_cast<uint32_t>(frames);
        return MA_SUCCESS;
    }

    StreamStatus getRenderClient() override {
        if (!deviceOpen) return MA_INVALID_OPERATION;
        renderClientReady = true;
        return MA_SUCCESS;
    }

    StreamStatus getBuffer(uint32_t frames, uint8_t** data) override {
        *data = nullptr;
        if (!renderClientReady) return MA_INVALID_OPERATION;
        if (frames > bufferFrames - std::min(queuedFrames.load(), bufferFrames)) return MA_OUT_OF_RANGE;
        scratch.assign(static_cast<size_t>(frames) * mixFormat.channels * mixFormat.bitsPerSample / 8, 0);
        *data = scratch.data();
        pendingFrames = frames;
        return MA_SUCCESS;
    }

    StreamStatus releaseBufferSilent(uint32_t frames) override {
        if (!renderClientReady || frames > pendingFrames) return MA_INVALID_OPERATION;
        pendingFrames = 0;
        queuedFrames += frames;
        return MA_SUCCESS;
    }

    StreamStatus start() override {
        const ma_result result = ma_device_start(&device);
        started = result == MA_SUCCESS;
        return result;
    }

    StreamStatus currentPadding(uint32_t& frames) override {
        if (!deviceOpen) return MA_INVALID_OPERATION;
        // A started stream that the backend stopped, or whose sound server dropped it, has lost
        // its output.
        if (started && (stoppedByBackend.load() || audioStreamBroken(device))) return MA_DEVICE_NOT_STARTED;
        frames = std::min(queuedFrames.load(), bufferFrames);
        return MA_SUCCESS;
    }

private:
    const ma_device_id* endpointIdOrDefault() const { return endpointId ? &*endpointId : nullptr; }

    static void playFromQueue(ma_device* device, void*, const void*, ma_uint32 frameCount) {
        auto* self = static_cast<MiniaudioSilentRenderStream*>(device->pUserData);
        uint32_t queued = self->queuedFrames.load();
        while (!self->queuedFrames.compare_exchange_weak(queued, queued - std::min(queued, frameCount))) {
        }
    }

    // PulseAudio reports a suspended output as stopped and its resumption as started: an output
    // that comes back (its clock restarted, say) has not been lost.
    static void noteStopOrResume(const ma_device_notification* notification) {
        auto* self = static_cast<MiniaudioSilentRenderStream*>(notification->pDevice->pUserData);
        if (notification->type == ma_device_notification_type_stopped) self->stoppedByBackend = true;
        if (notification->type == ma_device_notification_type_started) self->stoppedByBackend = false;
    }

    ma_context context;
    bool contextOpen = false;
    std::optional<ma_device_id> endpointId;
    ma_device_info endpointInfo{};
    StreamMixFormat mixFormat;
    ma_format deviceFormat = ma_format_f32;
    ma_device device;
    bool deviceOpen = false;
    bool renderClientReady = false;
    bool started = false;
    uint32_t bufferFrames = 0;
    uint32_t pendingFrames = 0;
    std::vector<uint8_t> scratch;
    std::atomic<uint32_t> queuedFrames{0};
    std::atomic<bool> stoppedByBackend{false};
};

}  // namespace

std::unique_ptr<SilentRenderStream> makeSilentRenderStream() { return std::make_unique<MiniaudioSilentRenderStream>(); }
