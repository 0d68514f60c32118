#include "audio/silent_keep_alive.h"

#include <cstring>
#include <functional>
#include <iterator>

#include <spdlog/spdlog.h>

#include "audio/run_flag_wait.h"
#include "recording_status.h"
#include "run_flags.h"
#include "track_events.h"

namespace {

constexpr int64_t oneSecondIn100ns = 10000000;

struct SetUpStep {
    std::function<StreamStatus()> call;
    const char* name;            // the platform call, for the failure line
    const char* successMessage;  // nullptr: the step logs nothing
};

// Refills the queue until the recording ends or a call fails; true when a call failed.
bool refillWhileRunning(SilentRenderStream& stream, const StreamMixFormat& format, spdlog::logger& log,
                        std::chrono::milliseconds cyclePeriod) {
    const uint32_t bufferFrames = format.framesPerSecond;
    while (silentRunning.load()) {
        const bool feeding = silentFeeding.load();
        // The sleep comes first in every cycle, fed or not, so an unfed loop does not spin.
        if (!sleepWhileRaised(silentRunning, cyclePeriod)) break;
        if (!feeding) continue;

        uint32_t padding = 0;
        if (streamFailed(stream.currentPadding(padding))) {
            log.error("silent: GetCurrentPadding failed");
            return true;
        }
        const uint32_t frames = padding < bufferFrames ? bufferFrames - padding : 0;
        if (frames == 0) continue;
        uint8_t* data = nullptr;
        if (streamFailed(stream.getBuffer(frames, &data))) {
            log.error("silent: GetBuffer failed");
            return true;
        }
        const uint64_t bytes = uint64_t{format.bitsPerSample} * format.channels * frames / 8;
        std::memset(data, 0, static_cast<size_t>(bytes));
        stream.releaseBufferSilent(frames);
    }
    return false;
}

// One set-up and its refill loop. `again`: a stream set up after the output went away, whose
// set-up steps are not logged one by one (they are tried every second while it is missing).
StreamStatus keepAliveOnce(SilentRenderStream& stream, spdlog::logger& log, std::chrono::milliseconds cyclePeriod,
                           bool again, bool& outputLost) {
    outputLost = false;
    StreamMixFormat format;
    uint8_t* firstBuffer = nullptr;
    const SetUpStep steps[] = {
        {[&] { return stream.createEnumerator(); }, "CoCreateInstance", nullptr},
        {[&] { return stream.openDefaultEndpoint(); }, "GetDefaultAudioEndpoint", "silent: GetDefaultAudioEndpoint success"},
        {[&] { return stream.activateClient(); }, "Activate", "silent: Activate success"},
        {[&] { return stream.getMixFormat(format); }, "GetMixFormat", nullptr},
        {[&] { return stream.initialize(oneSecondIn100ns); }, "Initialize", "silent: Initialize success"},
        {[&] { return stream.getRenderClient(); }, "GetService", "silent: GetService success"},
        // One second of silence queued before the stream starts.
        {[&] { return stream.getBuffer(format.framesPerSecond, &firstBuffer); }, "GetBuffer", "silent: GetBuffer success"},
        {[&] { return stream.releaseBufferSilent(format.framesPerSecond); }, "ReleaseBuffer", "silent: ReleaseBuffer success"},
        {[&] { return stream.start(); }, "Start", "silent: Start success"},
    };
    // Refilling needs the mix format and the render client, both in hand after this step.
    constexpr size_t renderClientStep = 5;

    StreamStatus status = 0;
    size_t stepsDone = 0;
    for (const SetUpStep& step : steps) {
        status = step.call();
        if (streamFailed(status)) break;
        if (step.successMessage != nullptr && !again) log.info(step.successMessage);
        ++stepsDone;
    }
    if (again) {
        outputLost = stepsDone < std::size(steps);
        if (outputLost) return status;
        log.info("silent: the output is back; playing silence again");
        clearTrackFailure("keepAlive");
    } else if (stepsDone <= renderClientStep) {
        // Without a render client there is nothing to refill, and the loop's first failure
        // would come only after a cycle (never, in a short recording): say which step failed.
        const std::string noServer = stream.noSoundServerReason();
        if (!noServer.empty()) {
            reportTrackEvent(log, TrackEventKind::failure, "keepAlive", TrackEventCode::noSoundServer, "silent: " + noServer);
        } else {
            reportTrackEvent(log, TrackEventKind::failure, "keepAlive", TrackEventCode::openFailed,
                             fmt::format("silent: {} failed: 0x{:X}", steps[stepsDone].name, static_cast<uint32_t>(status)));
        }
        return status;
    }

    outputLost = refillWhileRunning(stream, format, log, cyclePeriod);
    return status;
}

}  // namespace

StreamStatus runSilentKeepAlive(SilentRenderStream& stream, spdlog::logger& log, std::chrono::milliseconds cyclePeriod) {
    bool outputLost = false;
    return keepAliveOnce(stream, log, cyclePeriod, false, outputLost);
}

StreamStatus keepSilencePlaying(const std::function<std::unique_ptr<SilentRenderStream>()>& makeStream,
                                spdlog::logger& log, std::chrono::milliseconds cyclePeriod,
                                std::chrono::milliseconds retryPeriod) {
    bool outputLost = false;
    StreamStatus status = 0;
    {
        const std::unique_ptr<SilentRenderStream> stream = makeStream();
        status = keepAliveOnce(*stream, log, cyclePeriod, false, outputLost);
    }
    if (outputLost && silentRunning.load()) log.info("silent: setting the stream up again about once a second");
    while (outputLost && sleepWhileRaised(silentRunning, retryPeriod)) {
        const std::unique_ptr<SilentRenderStream> stream = makeStream();
        keepAliveOnce(*stream, log, cyclePeriod, true, outputLost);
    }
    return status;
}
