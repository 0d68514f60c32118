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
// Timed callbacks in a row that must lie behind the clock before their lag counts as lost frames.
constexpr uint32_t timedLateCallbacks = 4;

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
    lastCallbackTicks.store(steadyTicks(), std::memory_order_relaxed);
    // The track's clock leaves the pauses out, as its file does.
    const int64_t now = lastCallbackTicks.load(std::memory_order_relaxed) - pausedTicksSoFar();
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
    // On the track's clock, which leaves every pause out, the current one too.
    const int64_t steady = steadyTicks();
    const int64_t began = recordingStatus.pauseBeganTicks.load();
    const int64_t now = steady - pausedTicksSoFar() - (recordingPaused() && began != 0 ? steady - began : 0);
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
    std::lock_guard<std::mutex> lock(notes().lock);
    notes().devices.emplace_back(track, std::move(name));
}

TrackRecord readTrackRecord(const std::string& track) {
    const RecordingStatus& s = recordingStatus;
    TrackRecord record;
    {
        std::lock_guard<std::mutex> lock(notes().lock);
        for (const auto& [name, device] : notes().devices) {
            if (name == track) record.device = device;
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
    out.inputEvents = s.inputEvents.load(std::memory_order_relaxed);
    out.paused = s.paused.load();
    const int64_t began = s.pauseBeganTicks.load();
    out.pausedMs = static_cast<double>(s.pausedTicks.load() + (out.paused && began != 0 ? now - began : 0)) / 10000.0;
    std::lock_guard<std::mutex> lock(notes().lock);
    out.failures = notes().failures;
    out.pauses = notes().pauses;
    out.warnings = notes().warnings;
    return out;
}
