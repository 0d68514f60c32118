#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Result of a render-stream operation, in the manner of an HRESULT: negative means failure.
using StreamStatus = int32_t;

inline bool streamFailed(StreamStatus status) { return status < 0; }

// What the keep-alive needs of the output's mix format.
struct StreamMixFormat {
    uint32_t framesPerSecond = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
};

// A shared-mode render stream on the default output, driven one WASAPI-shaped step at a time so
// that the keep-alive reports the same set-up and loop outcomes on every platform. Each step
// expects the earlier ones to have succeeded. Destroying the stream releases, in this order, the
// render client, the client (which ends the stream), the endpoint and the enumerator.
class SilentRenderStream {
public:
    virtual ~SilentRenderStream() = default;

    virtual StreamStatus createEnumerator() = 0;
    virtual StreamStatus openDefaultEndpoint() = 0;
    virtual StreamStatus activateClient() = 0;
    virtual StreamStatus getMixFormat(StreamMixFormat& format) = 0;
    // Shared mode, no stream flags, periodicity 0, in the mix format.
    virtual StreamStatus initialize(int64_t bufferDuration100ns) = 0;
    virtual StreamStatus getRenderClient() = 0;
    // Space for `frames` frames at the end of the queue.
    virtual StreamStatus getBuffer(uint32_t frames, uint8_t** data) = 0;
    // Queues `frames` frames of the last buffer as silence.
    virtual StreamStatus releaseBufferSilent(uint32_t frames) = 0;
    virtual StreamStatus start() = 0;
    // Frames queued and not yet played.
    virtual StreamStatus currentPadding(uint32_t& frames) = 0;
    // After a failed set-up step: the plain sentence saying that no sound server answered, where
    // the platform needs one and that is why; empty otherwise.
    virtual std::string noSoundServerReason() const { return {}; }
};

// Prepares the calling thread for the stream's platform (a COM apartment on Windows, released
// with the stream) and returns a stream on which no step has been taken yet.
std::unique_ptr<SilentRenderStream> makeSilentRenderStream();
