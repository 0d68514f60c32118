#include "recording_status.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "addon/live_status.h"
#include "wall_clock.h"

RecordingStatus recordingStatus;

namespace {

constexpr int64_t ticksPerBucket = 1000000;  // 100 ms
constexpr uint32_t framesPerPeakBlock = 1600;  // 100 ms at 16000 Hz
constexpr int64_t audioRate = 16000;
constexpr int64_t ticksPerSecond = 10000000;
// Timed callbacks in a row that must lie behind the clock before their lag counts as lost frames.
constexpr uint32_t timedLateCallbacks = 4;

int64_t steadyTicks() {
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch()).count();
}

// Tracks that logged their failure line during the recording; written only when a recorder
// fails, so the lock never sits on a capture path.
std::mutex failuresLock;
std::vector<TrackFailure> failures;
std::vector<std::pair<std::string, std::string>> trackDevices;  // under failuresLock
std::optional<RecordedDisplay> screenDisplay;                    // under failuresLock
std::vector<TrackWarning> warnings;                              // under failuresLock

// Each recorder's log prefix names its track.
const char* trackOfLine(std::string_view line) {
    static const std::pair<std::string_view, const char*> prefixes[] = {
        {"screenRecorder:", "screen"}, {"WebcamRecorder:", "webcam"}, {"mic:", "microphone"},
        {"playbackRecorder:", "systemAudio"}, {"silent:", "keepAlive"}, {"input:", "input"},
    };
    for (const auto& [prefix, track] : prefixes) {
        if (line.substr(0, prefix.size()) == prefix) return track;
    }
    return nullptr;
}

// A recorder that fails logs one line and ends; the screen loop logs its run-time failures
// ("... failed") at info level.
bool isFailureLine(spdlog::level::level_enum level, std::string_view track, std::string_view line) {
    if (level >= spdlog::level::err) return true;
    constexpr std::string_view failedSuffix = " failed";
    return track == "screen" && line.size() >= failedSuffix.size() &&
           line.substr(line.size() - failedSuffix.size()) == failedSuffix;
}

class FailureWatchSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        const std::string_view line(msg.payload.data(), msg.payload.size());
        const char* track = trackOfLine(line);
        if (track == nullptr || !isFailureLine(msg.level, track, line)) return;
        std::lock_guard<std::mutex> lock(failuresLock);
        const bool known = std::any_of(failures.begin(), failures.end(), [&](const TrackFailure& f) { return f.track == track; });
        if (!known) failures.push_back({track, std::string(line)});
    }
    void flush_() override {}
};

void resetAudio(AudioTrackStatus& track) {
    track.source.store(nullptr);
    track.frames.store(0);
    track.peak.store(0);
    track.blockPeak.store(0);
    track.blockFrames.store(0);
    track.firstSteadyTicks.store(0);
    track.wallMinusSteady.store(0);
    track.windowMinimum.store(0);
    track.lastWindowExcess.store(0);
    track.filledFrames.store(0);
    track.windowEnd.store(0);
    track.rebase.store(false);
    track.lastCallbackTicks.store(0);
    track.gapPending.store(false);
    track.startSettled.store(false);
    track.lastGapFrames.store(0);
    track.lateCallbacks.store(0);
    track.lateMinimum.store(0);
    track.lateMaximum.store(0);
    track.fragmentCaptured.store(0);
    track.fragmentFrames.store(0);
}

void resetTiming(TrackTiming& timing) {
    timing.startTicks.store(0);
    timing.durationTicks.store(0);
}

}  // namespace

AudioFill AudioTrackStatus::countFrames(const int16_t* samples, uint32_t count, std::optional<int64_t> firstFrameAgeTicks) {
    uint32_t largest = blockPeak.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; ++i) {
        largest = std::max(largest, static_cast<uint32_t>(std::abs(static_cast<int32_t>(samples[i]))));
    }
    const uint32_t inBlock = blockFrames.load(std::memory_order_relaxed) + count;
    if (inBlock >= framesPerPeakBlock) {
        peak.store(largest, std::memory_order_relaxed);
        largest = 0;
        blockFrames.store(0, std::memory_order_relaxed);
    } else {
        blockFrames.store(inBlock, std::memory_order_relaxed);
    }
    blockPeak.store(largest, std::memory_order_relaxed);
    const int64_t now = steadyTicks();
    lastCallbackTicks.store(now, std::memory_order_relaxed);
    // When the callback's first frame was captured: as the backend says, or else the newest frame
    // was captured just before the callback ran.
    const auto audioTicks = [](uint64_t frameCount) { return static_cast<int64_t>(frameCount) * ticksPerSecond / audioRate; };
    int64_t captured = now - firstFrameAgeTicks.value_or(audioTicks(count));
    if (firstFrameAgeTicks) {
        // miniaudio hands a fragment larger than its period over in several callbacks, all timed
        // by the same report: one whose fragment started where the last one's did follows on.
        const uint64_t fragmentSoFar = fragmentFrames.load(std::memory_order_relaxed);
        if (fragmentSoFar != 0 && std::abs(captured - fragmentCaptured.load(std::memory_order_relaxed)) < ticksPerSecond / 1000) {
            captured = fragmentCaptured.load(std::memory_order_relaxed) + audioTicks(fragmentSoFar);
            fragmentFrames.store(fragmentSoFar + count, std::memory_order_relaxed);
        } else {
            fragmentCaptured.store(captured, std::memory_order_relaxed);
            fragmentFrames.store(count, std::memory_order_relaxed);
        }
    }

    AudioFill fill;
    const bool afterGap = gapPending.load(std::memory_order_relaxed) && gapPending.exchange(false);
    if (afterGap && frames.load(std::memory_order_relaxed) != 0) {
        // The device is back: silence from where the file's next frame belongs to the capture of
        // this callback's first frame keeps what follows on the clock.
        const int64_t due = firstSteadyTicks.load(std::memory_order_relaxed) + audioTicks(frames.load(std::memory_order_relaxed));
        if (captured > due) fill.before = static_cast<uint64_t>((captured - due) * audioRate / ticksPerSecond);
        frames.fetch_add(fill.before, std::memory_order_relaxed);
        filledFrames.fetch_add(fill.before, std::memory_order_relaxed);
        lastGapFrames.store(fill.before, std::memory_order_relaxed);
        // The start stays where the frames before the gap put it: a late first callback of the
        // new stream would otherwise drag it (and everything before the gap) early.
        startSettled.store(true, std::memory_order_relaxed);
    } else if (startSettled.load(std::memory_order_relaxed)) {
        // Frames that would sit earlier than the clock allows: the gap's fill came from a late
        // first callback. Leaving them out puts what follows back on the clock.
        const int64_t ahead = firstSteadyTicks.load(std::memory_order_relaxed) - (captured - audioTicks(frames.load(std::memory_order_relaxed)));
        if (ahead > 0) fill.dropped = static_cast<uint32_t>(std::min<int64_t>(count, ahead * audioRate / ticksPerSecond));
        count -= fill.dropped;
    }
    const uint64_t before = frames.fetch_add(count, std::memory_order_relaxed);

    // Where the file's first frame sits on the steady clock if every frame since came in. A late
    // callback only pushes this later, so the earliest value is the estimate; frames that never
    // came push every later value up.
    const int64_t filed = audioTicks(before + count);
    const int64_t implied = captured - audioTicks(before);
    const bool restart = before == 0 || (rebase.load(std::memory_order_relaxed) && rebase.exchange(false));
    if (restart) {
        wallMinusSteady.store(wallClockTicks() - now, std::memory_order_relaxed);
        firstSteadyTicks.store(implied, std::memory_order_relaxed);
    }
    if (restart || afterGap) {
        // A second of audio measured afresh.
        windowMinimum.store(implied, std::memory_order_relaxed);
        lastWindowExcess.store(0, std::memory_order_relaxed);
        windowEnd.store(filed + ticksPerSecond, std::memory_order_relaxed);
        return fill;
    }
    const int64_t first = startSettled.load(std::memory_order_relaxed)
                              ? firstSteadyTicks.load(std::memory_order_relaxed)
                              : std::min(firstSteadyTicks.load(std::memory_order_relaxed), implied);
    firstSteadyTicks.store(first, std::memory_order_relaxed);
    if (firstFrameAgeTicks) {
        // The backend timed this callback, so a late one is not merely delayed (its wait is in
        // the latency): frames before it went missing. A few callbacks in a row saying so are
        // enough; silence of the least of their lag puts what follows back on the clock.
        const int64_t late = implied - first;
        if (late > ticksPerSecond / 50) {
            const uint32_t run = lateCallbacks.fetch_add(1, std::memory_order_relaxed) + 1;
            const int64_t least = run == 1 ? late : std::min(lateMinimum.load(std::memory_order_relaxed), late);
            const int64_t most = run == 1 ? late : std::max(lateMaximum.load(std::memory_order_relaxed), late);
            lateMinimum.store(least, std::memory_order_relaxed);
            lateMaximum.store(most, std::memory_order_relaxed);
            // Missing frames put every later callback behind by the same amount; lags that
            // disagree come from the timing reports, not from the audio: start over.
            if (most - least > ticksPerSecond / 100) {
                lateCallbacks.store(1, std::memory_order_relaxed);
                lateMinimum.store(late, std::memory_order_relaxed);
                lateMaximum.store(late, std::memory_order_relaxed);
            } else if (run >= timedLateCallbacks) {
                fill.after = static_cast<uint32_t>(least * audioRate / ticksPerSecond);
                frames.fetch_add(fill.after, std::memory_order_relaxed);
                filledFrames.fetch_add(fill.after, std::memory_order_relaxed);
                lateCallbacks.store(0, std::memory_order_relaxed);
                windowMinimum.store(implied - least, std::memory_order_relaxed);
                lastWindowExcess.store(0, std::memory_order_relaxed);
                return fill;
            }
        } else {
            lateCallbacks.store(0, std::memory_order_relaxed);
        }
    }
    if (implied < windowMinimum.load(std::memory_order_relaxed)) windowMinimum.store(implied, std::memory_order_relaxed);
    if (filed < windowEnd.load(std::memory_order_relaxed)) return fill;

    // A whole second of audio: how far its best estimate lies behind the first. Two seconds in a
    // row behind means frames went missing (a burst after a stalled thread catches up within one);
    // silence in their place keeps the rest of the file on the clock.
    const int64_t excess = windowMinimum.load(std::memory_order_relaxed) - first;
    const int64_t sure = std::min(excess, lastWindowExcess.load(std::memory_order_relaxed));
    windowMinimum.store(implied, std::memory_order_relaxed);
    windowEnd.store(filed + ticksPerSecond, std::memory_order_relaxed);
    if (sure <= ticksPerSecond / 50) {
        lastWindowExcess.store(excess, std::memory_order_relaxed);
        return fill;
    }
    fill.after = static_cast<uint32_t>(sure * audioRate / ticksPerSecond);
    lastWindowExcess.store(excess - sure, std::memory_order_relaxed);
    frames.fetch_add(fill.after, std::memory_order_relaxed);
    filledFrames.fetch_add(fill.after, std::memory_order_relaxed);
    return fill;
}

uint64_t AudioTrackStatus::fillUntilNow() {
    const uint64_t held = frames.load();
    if (held == 0) return 0;
    const int64_t due = firstSteadyTicks.load() + static_cast<int64_t>(held) * ticksPerSecond / audioRate;
    const int64_t now = steadyTicks();
    if (now <= due) return 0;
    const auto fill = static_cast<uint64_t>((now - due) * audioRate / ticksPerSecond);
    frames.fetch_add(fill);
    filledFrames.fetch_add(fill);
    return fill;
}

int64_t AudioTrackStatus::startWallTicks() const {
    if (frames.load() == 0) return 0;
    return firstSteadyTicks.load() + wallMinusSteady.load();
}

void restartAudioStartEstimate(const void* encoder) {
    if (AudioTrackStatus* track = audioTrackOf(encoder)) track->rebase.store(true);
}

void setTrackDevice(const char* track, std::string name) {
    std::lock_guard<std::mutex> lock(failuresLock);
    trackDevices.emplace_back(track, std::move(name));
}

void setScreenDisplay(const RecordedDisplay& display) {
    std::lock_guard<std::mutex> lock(failuresLock);
    screenDisplay = display;
}

TrackRecord readTrackRecord(const std::string& track) {
    const RecordingStatus& s = recordingStatus;
    TrackRecord record;
    {
        std::lock_guard<std::mutex> lock(failuresLock);
        for (const auto& [name, device] : trackDevices) {
            if (name == track) record.device = device;
        }
        if (track == "screen") record.display = screenDisplay;
        for (const TrackWarning& warning : warnings) {
            if (warning.track == track) record.warnings.push_back(warning);
        }
    }
    const auto video = [&record](const TrackTiming& timing, uint64_t samples) {
        record.startTicks = timing.startTicks.load();
        record.durationTicks = timing.durationTicks.load();
        record.count = samples;
    };
    const auto audio = [&record](const AudioTrackStatus& a) {
        record.startTicks = a.startWallTicks();
        record.count = a.frames.load();
        record.durationTicks = static_cast<int64_t>(record.count) * ticksPerSecond / audioRate;
        record.lost = a.filledFrames.load();
    };
    if (track == "screen") video(s.screenTiming, s.screenSamples.load());
    if (track == "webcam") video(s.webcamTiming, s.webcamSamples.load());
    if (track == "microphone") audio(s.microphone);
    if (track == "systemAudio") audio(s.systemAudio);
    if (track == "input") {
        record.startTicks = s.inputTiming.startTicks.load();
        record.durationTicks = s.inputTiming.durationTicks.load();
        record.count = s.inputEvents.load();
        record.lost = s.inputEventsGated.load();
    }
    return record;
}

void countScreenSample() {
    recordingStatus.screenSamples.fetch_add(1, std::memory_order_relaxed);
    const int64_t slot = steadyTicks() / ticksPerBucket;
    RecordingStatus::RateBucket& bucket = recordingStatus.screenRate[slot % RecordingStatus::rateBuckets];
    if (bucket.slot.load(std::memory_order_relaxed) != slot) {
        bucket.samples.store(0, std::memory_order_relaxed);
        bucket.slot.store(slot, std::memory_order_relaxed);
    }
    bucket.samples.fetch_add(1, std::memory_order_relaxed);
}

AudioTrackStatus* audioTrackOf(const void* encoder) {
    for (AudioTrackStatus* track : {&recordingStatus.microphone, &recordingStatus.systemAudio}) {
        if (track->source.load(std::memory_order_relaxed) == encoder) return track;
    }
    return nullptr;
}

AudioFill countAudioFrames(const void* encoder, const void* samples, uint32_t frames, std::optional<int64_t> firstFrameAgeTicks) {
    AudioTrackStatus* track = audioTrackOf(encoder);
    return track != nullptr ? track->countFrames(static_cast<const int16_t*>(samples), frames, firstFrameAgeTicks) : AudioFill{};
}

void noteTrackWarning(const char* track, const char* code, const std::string& message) {
    std::lock_guard<std::mutex> lock(failuresLock);
    const bool known = std::any_of(warnings.begin(), warnings.end(),
                                   [&](const TrackWarning& w) { return w.track == track && w.code == code; });
    if (!known) warnings.push_back({track, code, message});
}

void clearTrackFailure(const char* track) {
    std::lock_guard<std::mutex> lock(failuresLock);
    failures.erase(std::remove_if(failures.begin(), failures.end(), [&](const TrackFailure& f) { return f.track == track; }),
                   failures.end());
}

void beginLiveStatus(spdlog::logger& logger) {
    RecordingStatus& s = recordingStatus;
    s.screenSamples.store(0);
    for (RecordingStatus::RateBucket& bucket : s.screenRate) {
        bucket.slot.store(-1);
        bucket.samples.store(0);
    }
    s.webcamSamples.store(0);
    resetAudio(s.microphone);
    resetAudio(s.systemAudio);
    s.inputEvents.store(0);
    s.inputEventsGated.store(0);
    resetTiming(s.screenTiming);
    resetTiming(s.webcamTiming);
    resetTiming(s.inputTiming);
    {
        std::lock_guard<std::mutex> lock(failuresLock);
        failures.clear();
        trackDevices.clear();
        screenDisplay.reset();
        warnings.clear();
    }
    // Added before any recorder thread exists, so no thread is logging yet.
    logger.sinks().push_back(std::make_shared<FailureWatchSink>());
    s.endedTicks.store(0);
    s.startedTicks.store(steadyTicks());
    s.recording.store(true);
}

void endLiveStatus() {
    recordingStatus.endedTicks.store(steadyTicks());
    recordingStatus.recording.store(false);
}

RecordingStatusSnapshot readRecordingStatus() {
    const RecordingStatus& s = recordingStatus;
    RecordingStatusSnapshot out;
    out.recording = s.recording.load();
    const int64_t started = s.startedTicks.load();
    const int64_t ended = s.endedTicks.load();
    const int64_t now = steadyTicks();
    if (started != 0) out.elapsedMs = static_cast<double>((out.recording || ended == 0 ? now : ended) - started) / 10000.0;

    out.screenSamples = s.screenSamples.load(std::memory_order_relaxed);
    // The ten whole buckets before the current one: the last second.
    const int64_t current = now / ticksPerBucket;
    for (const RecordingStatus::RateBucket& bucket : s.screenRate) {
        const int64_t slot = bucket.slot.load(std::memory_order_relaxed);
        if (slot >= current - 10 && slot < current) out.screenSamplesLastSecond += bucket.samples.load(std::memory_order_relaxed);
    }
    out.webcamSamples = s.webcamSamples.load(std::memory_order_relaxed);
    out.microphoneFrames = s.microphone.frames.load(std::memory_order_relaxed);
    out.microphonePeak = s.microphone.peak.load(std::memory_order_relaxed) / 32768.0;
    out.systemAudioFrames = s.systemAudio.frames.load(std::memory_order_relaxed);
    out.systemAudioPeak = s.systemAudio.peak.load(std::memory_order_relaxed) / 32768.0;
    out.inputEvents = s.inputEvents.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(failuresLock);
    out.failures = failures;
    out.warnings = warnings;
    return out;
}
