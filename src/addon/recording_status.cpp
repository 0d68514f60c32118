#include "recording_status.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "addon/live_status.h"
#include "recording_state.h"
#include "wall_clock.h"

namespace {

constexpr int64_t ticksPerBucket = 1000000;  // 100 ms
constexpr uint32_t framesPerPeakBlock = 1600;  // 100 ms at 16000 Hz
constexpr int64_t audioRate = 16000;
constexpr int64_t ticksPerSecond = 10000000;

int64_t steadyTicks() {
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch()).count();
}

TrackNotes& notes() { return processRecordingState().notes; }

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
    // On the steady clock itself, pauses included: the recorder thread's watch measures silence
    // by it.
    lastCallbackTicks.store(steadyTicks(), std::memory_order_relaxed);
    return fill;
}

void AudioTrackStatus::publish() {
    frames.store(clock.frames(), std::memory_order_relaxed);
    filledFrames.store(clock.filledFrames(), std::memory_order_relaxed);
    droppedFrames.store(clock.droppedFrames(), std::memory_order_relaxed);
    firstSteadyTicks.store(clock.firstSteadyTicks(), std::memory_order_relaxed);
    wallMinusSteady.store(clock.wallMinusSteady(), std::memory_order_relaxed);
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

int64_t trackClockTicks() {
    const int64_t steady = steadyTicks();
    const int64_t began = recordingStatus.pauseBeganTicks.load(std::memory_order_relaxed);
    return steady - pausedTicksSoFar() - (recordingPaused() && began != 0 ? steady - began : 0);
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
    std::lock_guard<std::mutex> lock(notes().lock);
    notes().devices.emplace_back(track, std::move(name));
}

void beginTrackOutage(const char* track, int64_t wallTicks) {
    std::lock_guard<std::mutex> lock(notes().lock);
    notes().outages.emplace_back(track, TrackOutage{wallTicks, 0});
}

void endTrackOutage(const char* track, int64_t wallTicks) {
    std::lock_guard<std::mutex> lock(notes().lock);
    for (auto& [name, outage] : notes().outages) {
        if (name == track && outage.endTicks == 0) outage.endTicks = std::max(wallTicks, outage.startTicks);
    }
}

void setScreenDisplay(const RecordedDisplay& display) {
    std::lock_guard<std::mutex> lock(notes().lock);
    notes().display = display;
}

TrackRecord readTrackRecord(const std::string& track) {
    const RecordingStatus& s = recordingStatus;
    TrackRecord record;
    {
        std::lock_guard<std::mutex> lock(notes().lock);
        for (const auto& [name, device] : notes().devices) {
            if (name == track) record.device = device;
        }
        if (track == "screen") record.display = notes().display;
        for (const TrackGap& gap : notes().gaps) {
            if (gap.track == track) record.gaps.emplace_back(gap.from, gap.to);
        }
        for (const auto& [name, outage] : notes().outages) {
            if (name == track) record.outages.push_back(outage);
        }
        for (const TrackWarning& warning : notes().warnings) {
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

void addTrackGap(const char* track, int64_t fromTicks, int64_t toTicks) {
    std::lock_guard<std::mutex> lock(notes().lock);
    notes().gaps.push_back({track, fromTicks, toTicks});
}

void noteTrackFailure(const char* track, TrackEventCode code, const std::string& message) {
    TrackNotes& n = notes();
    std::lock_guard<std::mutex> lock(n.lock);
    const bool known = std::any_of(n.failures.begin(), n.failures.end(), [&](const TrackFailure& f) { return f.track == track; });
    if (!known) n.failures.push_back({track, message, code});
}

void noteTrackWarning(const char* track, const char* code, const std::string& message) {
    TrackNotes& n = notes();
    std::lock_guard<std::mutex> lock(n.lock);
    const bool known = std::any_of(n.warnings.begin(), n.warnings.end(),
                                   [&](const TrackWarning& w) { return w.track == track && w.code == code; });
    if (!known) n.warnings.push_back({track, code, message});
}

void clearTrackFailure(const char* track) {
    TrackNotes& n = notes();
    std::lock_guard<std::mutex> lock(n.lock);
    n.failures.erase(std::remove_if(n.failures.begin(), n.failures.end(), [&](const TrackFailure& f) { return f.track == track; }),
                     n.failures.end());
}

void noteAudioCallbackWhilePaused(const void* encoder) {
    if (AudioTrackStatus* track = audioTrackOf(encoder)) track->lastCallbackTicks.store(steadyTicks(), std::memory_order_relaxed);
}

bool pauseRecordingTracks() {
    RecordingStatus& s = recordingStatus;
    if (!s.recording.load() || s.paused.load()) return false;
    {
        std::lock_guard<std::mutex> lock(notes().lock);
        notes().pauses.push_back({wallClockTicks(), 0});
    }
    s.pauseBeganTicks.store(steadyTicks());
    s.paused.store(true, std::memory_order_release);
    return true;
}

bool resumeRecordingTracks() {
    RecordingStatus& s = recordingStatus;
    if (!s.paused.load()) return false;
    // The length first: a recorder that sees the pause over reads it.
    s.pausedTicks.fetch_add(steadyTicks() - s.pauseBeganTicks.load());
    s.pauseBeganTicks.store(0);
    s.paused.store(false, std::memory_order_release);
    markPauseEnd();
    return true;
}

void markPauseEnd() {
    std::lock_guard<std::mutex> lock(notes().lock);
    if (!notes().pauses.empty() && notes().pauses.back().endTicks == 0) notes().pauses.back().endTicks = wallClockTicks();
}

std::vector<RecordingPause> readRecordingPauses() {
    std::lock_guard<std::mutex> lock(notes().lock);
    return notes().pauses;
}

void beginLiveStatus() {
    // Renewed whole rather than field by field: a field added later starts from zero too. No
    // recorder thread of an earlier recording is left to see it.
    RecordingStatus& s = recordingStatus;
    std::destroy_at(&s);
    ::new (static_cast<void*>(&s)) RecordingStatus();
    {
        std::lock_guard<std::mutex> lock(notes().lock);
        notes().failures.clear();
        notes().devices.clear();
        notes().pauses.clear();
        notes().warnings.clear();
        notes().gaps.clear();
        notes().outages.clear();
        notes().display.reset();
    }
    s.startedTicks.store(steadyTicks());
    s.recording.store(true);
}

void endLiveStatus() {
    // A recording that ends paused ends its pause at the end.
    resumeRecordingTracks();
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
    out.paused = s.paused.load();
    const int64_t began = s.pauseBeganTicks.load();
    out.pausedMs = static_cast<double>(s.pausedTicks.load() + (out.paused && began != 0 ? now - began : 0)) / 10000.0;
    std::lock_guard<std::mutex> lock(notes().lock);
    out.failures = notes().failures;
    out.pauses = notes().pauses;
    out.warnings = notes().warnings;
    out.webcamGaps = static_cast<uint64_t>(std::count_if(notes().gaps.begin(), notes().gaps.end(),
                                                         [](const TrackGap& gap) { return gap.track == "webcam"; }));
    return out;
}
