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

enum class RefillEnd { recordingEnded, outputLost, outputMoved };

// Whether the default output is another one than when the stream was set up.
class MoveCheck {
public:
    explicit MoveCheck(DefaultOutputWatch* watch)
        : watch(watch), seen(watch ? watch->changes() : 0), setUpOn(watch ? watch->currentDefault() : std::string()) {}
    bool moved() {
        if (watch == nullptr || watch->changes() == seen) return false;
        seen = watch->changes();
        const std::string now = watch->currentDefault();
        return !now.empty() && now != setUpOn;
    }

private:
    DefaultOutputWatch* watch;
    uint64_t seen;
    std::string setUpOn;
};

// Refills the queue until the recording ends, a call fails or the default output moves.
RefillEnd refillWhileRunning(SilentRenderStream& stream, const StreamMixFormat& format, spdlog::logger& log,
                             std::chrono::milliseconds cyclePeriod, MoveCheck& move) {
    const uint32_t bufferFrames = format.framesPerSecond;
    while (silentRunning.load()) {
        const bool feeding = silentFeeding.load();
        // The sleep comes first in every cycle, fed or not, so an unfed loop does not spin.
        if (!sleepWhileRaised(silentRunning, cyclePeriod)) break;
        if (move.moved()) return RefillEnd::outputMoved;
        if (!feeding) continue;

        uint32_t padding = 0;
        if (streamFailed(stream.currentPadding(padding))) {
            reportTrackEvent(log, TrackEventKind::lost, "keepAlive", TrackEventCode::deviceLost, "silent: GetCurrentPadding failed");
            return RefillEnd::outputLost;
        }
        const uint32_t frames = padding < bufferFrames ? bufferFrames - padding : 0;
        if (frames == 0) continue;
        uint8_t* data = nullptr;
        if (streamFailed(stream.getBuffer(frames, &data))) {
            reportTrackEvent(log, TrackEventKind::lost, "keepAlive", TrackEventCode::deviceLost, "silent: GetBuffer failed");
            return RefillEnd::outputLost;
        }
        const uint64_t bytes = uint64_t{format.bitsPerSample} * format.channels * frames / 8;
        std::memset(data, 0, static_cast<size_t>(bytes));
        stream.releaseBufferSilent(frames);
    }
    return RefillEnd::recordingEnded;
}

// One set-up and its refill loop. `again`: a stream set up after the output went away or moved,
// whose set-up steps are not logged one by one (they are tried every second while it is missing).
StreamStatus keepAliveOnce(SilentRenderStream& stream, spdlog::logger& log, std::chrono::milliseconds cyclePeriod,
                           bool again, DefaultOutputWatch* watch, bool& outputLost, bool& outputMoved) {
    const bool afterLoss = outputLost;
    outputLost = false;
    outputMoved = false;
    MoveCheck move(watch);
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
        if (afterLoss) {
            reportTrackEvent(log, TrackEventKind::back, "keepAlive", TrackEventCode::deviceBack,
                             "silent: the output is back; playing silence again");
        }
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

    const RefillEnd end = refillWhileRunning(stream, format, log, cyclePeriod, move);
    outputLost = end == RefillEnd::outputLost;
    outputMoved = end == RefillEnd::outputMoved;
    return status;
}

}  // namespace

StreamStatus runSilentKeepAlive(SilentRenderStream& stream, spdlog::logger& log, std::chrono::milliseconds cyclePeriod) {
    bool outputLost = false;
    bool outputMoved = false;
    return keepAliveOnce(stream, log, cyclePeriod, false, nullptr, outputLost, outputMoved);
}

StreamStatus keepSilencePlaying(const std::function<std::unique_ptr<SilentRenderStream>()>& makeStream,
                                spdlog::logger& log, std::chrono::milliseconds cyclePeriod,
                                std::chrono::milliseconds retryPeriod,
                                const std::function<std::unique_ptr<DefaultOutputWatch>()>& watch) {
    const std::unique_ptr<DefaultOutputWatch> defaultOutput = watch ? watch() : nullptr;
    bool outputLost = false;
    bool outputMoved = false;
    StreamStatus status = 0;
    {
        const std::unique_ptr<SilentRenderStream> stream = makeStream();
        status = keepAliveOnce(*stream, log, cyclePeriod, false, defaultOutput.get(), outputLost, outputMoved);
    }
    if (outputLost && silentRunning.load()) log.info("silent: setting the stream up again about once a second");
    while ((outputLost || outputMoved) && silentRunning.load()) {
        if (outputMoved) {
            // At once: loopback of the new output delivers nothing until something plays on it.
            log.info("silent: the default output changed; playing silence on the new one");
        } else if (!sleepWhileRaised(silentRunning, retryPeriod)) {
            break;
        }
        const std::unique_ptr<SilentRenderStream> stream = makeStream();
        keepAliveOnce(*stream, log, cyclePeriod, true, defaultOutput.get(), outputLost, outputMoved);
    }
    return status;
}
