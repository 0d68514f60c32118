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

int64_t steadyTicks() {
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch()).count();
}

// Tracks that logged their failure line during the recording; written only when a recorder
// fails, so the lock never sits on a capture path.
std::mutex failuresLock;
std::vector<TrackFailure> failures;
std::vector<std::pair<std::string, std::string>> trackDevices;  // under failuresLock
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

    const bool afterGap = gapPending.load(std::memory_order_relaxed) && gapPending.exchange(false);
    const bool restart = rebase.load(std::memory_order_relaxed) && rebase.exchange(false);
    const AudioClock::Placement placement = clock.place(count, firstFrameAgeTicks, restart, afterGap);
    // The frames before a gap are not to be joined to the ones after it.
    if (afterGap || restart) resampler.reset();
    AudioFill fill;
    fill.before = placement.before;
    fill.after = placement.after;
    fill.dropped = placement.dropped;
    const uint32_t kept = count - placement.dropped;
    fill.samples = resampler.process(samples + placement.dropped, kept, placement.ratio, fill.count);
    clock.wrote(kept, fill.count);
    if (afterGap) lastGapFrames.store(clock.lastGapFrames(), std::memory_order_relaxed);
    publish();
    return fill;
}

void AudioTrackStatus::publish() {
    frames.store(clock.frames(), std::memory_order_relaxed);
    filledFrames.store(clock.filledFrames(), std::memory_order_relaxed);
    droppedFrames.store(clock.droppedFrames(), std::memory_order_relaxed);
    firstSteadyTicks.store(clock.firstSteadyTicks(), std::memory_order_relaxed);
    wallMinusSteady.store(clock.wallMinusSteady(), std::memory_order_relaxed);
    lastCallbackTicks.store(clock.lastCallbackTicks(), std::memory_order_relaxed);
    correctionFrames.store(clock.correctionFrames(), std::memory_order_relaxed);
    if (const std::optional<double> ppm = clock.rateErrorPpm()) {
        rateErrorPpm.store(*ppm, std::memory_order_relaxed);
        rateMeasured.store(true, std::memory_order_relaxed);
    }
    deliveredRate.store(clock.deliveredRate(), std::memory_order_relaxed);
    const AudioClock::Pace pace = clock.pace();
    runaway.store(pace == AudioClock::Pace::fast ? 1 : pace == AudioClock::Pace::slow ? 2 : 0, std::memory_order_relaxed);
}

uint64_t AudioTrackStatus::fillUntilNow() {
    const uint64_t fill = clock.fillUntilNow();
    publish();
    return fill;
}

int64_t AudioTrackStatus::startWallTicks() const {
    if (frames.load() == 0) return 0;
    return firstSteadyTicks.load() + wallMinusSteady.load();
}

void AudioTrackStatus::reset() {
    source.store(nullptr);
    peak.store(0);
    blockPeak.store(0);
    blockFrames.store(0);
    rebase.store(false);
    gapPending.store(false);
    lastGapFrames.store(0);
    rateMeasured.store(false);
    rateErrorPpm.store(0);
    clock.reset();
    resampler.reset();
    publish();
}

void restartAudioStartEstimate(const void* encoder) {
    if (AudioTrackStatus* track = audioTrackOf(encoder)) track->rebase.store(true);
}

void setTrackDevice(const char* track, std::string name) {
    std::lock_guard<std::mutex> lock(failuresLock);
    trackDevices.emplace_back(track, std::move(name));
}

TrackRecord readTrackRecord(const std::string& track) {
    const RecordingStatus& s = recordingStatus;
    TrackRecord record;
    {
        std::lock_guard<std::mutex> lock(failuresLock);
        for (const auto& [name, device] : trackDevices) {
            if (name == track) record.device = device;
        }
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
        if (a.rateMeasured.load()) record.rateErrorPpm = a.rateErrorPpm.load();
        record.correctionMs = static_cast<double>(a.correctionFrames.load()) * 1000.0 / audioRate;
        record.dropped = a.droppedFrames.load();
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
    if (track != nullptr) return track->countFrames(static_cast<const int16_t*>(samples), frames, firstFrameAgeTicks);
    AudioFill fill;
    fill.samples = static_cast<const int16_t*>(samples);
    fill.count = frames;
    return fill;
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
    s.microphone.reset();
    s.systemAudio.reset();
    s.inputEvents.store(0);
    s.inputEventsGated.store(0);
    resetTiming(s.screenTiming);
    resetTiming(s.webcamTiming);
    resetTiming(s.inputTiming);
    {
        std::lock_guard<std::mutex> lock(failuresLock);
        failures.clear();
        trackDevices.clear();
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
    const auto clockOf = [](const AudioTrackStatus& a, std::optional<double>& ppm, double& correctionMs) {
        if (a.rateMeasured.load(std::memory_order_relaxed)) ppm = a.rateErrorPpm.load(std::memory_order_relaxed);
        correctionMs = static_cast<double>(a.correctionFrames.load(std::memory_order_relaxed)) * 1000.0 / audioRate;
    };
    clockOf(s.microphone, out.microphoneRatePpm, out.microphoneCorrectionMs);
    clockOf(s.systemAudio, out.systemAudioRatePpm, out.systemAudioCorrectionMs);
    out.inputEvents = s.inputEvents.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(failuresLock);
    out.failures = failures;
    out.warnings = warnings;
    return out;
}
