#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_clock.h"
#include "audio/track_resampler.h"
#include "track_events.h"
#include "wall_clock.h"

// Live figures of the running recording, for a host app that shows progress. Recorder threads
// bump them at one point each with relaxed atomics (no locks, nothing the capture paths notice);
// readers take a snapshot at any time. Part of the recording's state (include/recording_state.h).

// What the audio callback writes for a callback's frames: silence before them, the frames
// themselves (after leaving some out and resampling), silence after them.
struct AudioFill {
    uint64_t before = 0;  // the device came back after a gap
    uint32_t after = 0;   // frames went missing within the last seconds
    uint32_t dropped = 0;  // the callback's first frames are left out: they would sit ahead of the clock
    const int16_t* samples = nullptr;  // the frames to write, `count` of them
    uint32_t count = 0;
};

// The audio tracks' steady clock (100 ns): it leaves the recording's pauses out, as the files do.
int64_t trackClockTicks();

struct AudioTrackStatus {
    // The encoder this track's device writes into; the shared audio callback finds its track by it.
    std::atomic<const void*> source{nullptr};
    std::atomic<uint64_t> frames{0};
    // Largest |sample| of the last complete 100 ms block, 0..32768.
    std::atomic<uint32_t> peak{0};
    // Owned by the device thread: the block being measured.
    std::atomic<uint32_t> blockPeak{0};
    std::atomic<uint32_t> blockFrames{0};
    // When the first frame was captured (steady clock, 100 ns) and the wall clock's offset from
    // the steady one, as the track's clock last put them.
    std::atomic<int64_t> firstSteadyTicks{0};
    std::atomic<int64_t> wallMinusSteady{0};
    // Frames of silence written where the device delivered none (gaps, overruns).
    std::atomic<uint64_t> filledFrames{0};
    // Frames the device delivered that were left out: ahead of the clock.
    std::atomic<uint64_t> droppedFrames{0};
    // How fast the device's clock runs against the recording's (ppm, positive: too many frames),
    // once measured, and the frames that resampling added to the file for it (negative: removed).
    std::atomic<bool> rateMeasured{false};
    std::atomic<double> rateErrorPpm{0};
    std::atomic<int64_t> correctionFrames{0};
    // The device delivers far faster (1) or slower (2) than its rate, for more than a second.
    std::atomic<int> runaway{0};
    std::atomic<double> deliveredRate{0};  // frames per second over the last whole second
    // Set when the device's clock was restarted: the estimate starts over with the next callback.
    std::atomic<bool> rebase{false};
    // Steady clock (100 ns) of the last callback, for the recorder thread's watch on its device.
    std::atomic<int64_t> lastCallbackTicks{0};
    // Set by the recorder thread before a lost device starts again: the next callback fills the
    // time since the last frame with silence (the size of that fill lands in `lastGapFrames`), and
    // from then on the start estimate stays where the frames before the gap put it.
    std::atomic<bool> gapPending{false};
    std::atomic<uint64_t> lastGapFrames{0};

    // Owned by the device thread (and by the recorder thread once the device is closed): where
    // the frames go on the recording's clock, and the resampling that keeps them there.
    AudioClock clock{trackClockTicks, wallClockTicks};
    TrackResampler resampler;

    // Counts a callback's frames and places them: silence before and after them for frames the
    // device never delivered, after a gap how many of them to leave out, and the frames to write
    // (resampled by the device's measured rate).
    // `firstFrameAgeTicks`: how long before now the first of them was captured, when the device
    // says (100 ns).
    AudioFill countFrames(const int16_t* samples, uint32_t count, std::optional<int64_t> firstFrameAgeTicks = std::nullopt);
    // Silence from the last frame up to now, counted as lost (the device is gone at the end of the
    // recording); 0 before the first frame.
    uint64_t fillUntilNow();
    // Wall clock (100 ns) when the first frame was captured, 0 before it.
    int64_t startWallTicks() const;
    // A new recording: every figure back to zero.
    void reset();

private:
    void publish();
};

// Where a video or input track sits on the wall clock, for tracks.json.
struct TrackTiming {
    std::atomic<int64_t> startTicks{0};     // wall clock, 100 ns, of the first sample; 0 before it
    std::atomic<int64_t> durationTicks{0};  // from the first sample's start to the last one's end
};

struct RecordingStatus {
    // 100 ms buckets of written screen samples, so the rate over the last second needs no history
    // on the reader's side.
    static constexpr int rateBuckets = 12;
    struct RateBucket {
        std::atomic<int64_t> slot{-1};
        std::atomic<uint32_t> samples{0};
    };

    std::atomic<bool> recording{false};
    std::atomic<int64_t> startedTicks{0};  // steady clock, 100 ns
    std::atomic<int64_t> endedTicks{0};
    std::atomic<uint64_t> screenSamples{0};
    RateBucket screenRate[rateBuckets];
    std::atomic<uint64_t> webcamSamples{0};
    AudioTrackStatus microphone;
    AudioTrackStatus systemAudio;
    std::atomic<uint64_t> inputEvents{0};
    std::atomic<uint64_t> inputEventsGated{0};  // moves and drags the input gate thinned out
    TrackTiming screenTiming;
    TrackTiming webcamTiming;
    TrackTiming inputTiming;  // start: when the hook came up
    // Every track holds while this is up: no samples, frames or records reach the files.
    std::atomic<bool> paused{false};
    // Steady clock (100 ns): the length of the pauses that have ended, and when the current one began.
    std::atomic<int64_t> pausedTicks{0};
    std::atomic<int64_t> pauseBeganTicks{0};
};

// The recording's live status: a view into processRecordingState().status (include/recording_state.h).
extern RecordingStatus& recordingStatus;

// Whether the recording is paused; the recorders leave out what comes while it is.
inline bool recordingPaused() { return recordingStatus.paused.load(std::memory_order_acquire); }
// The length (100 ns) of the pauses that have ended. A recorder that reads this after seeing the
// pause over takes its clock readings less this, so its track goes on where it stopped.
inline int64_t pausedTicksSoFar() { return recordingStatus.pausedTicks.load(std::memory_order_relaxed); }
// Pauses and resumes the running recording; false when that changed nothing (not recording,
// already paused, not paused).
bool pauseRecordingTracks();
bool resumeRecordingTracks();
// The recording ends while paused: its pause ends now on the wall clock, though the tracks stay
// held until they have stopped.
void markPauseEnd();
// An audio callback while paused: the device delivers, only its frames are left out.
void noteAudioCallbackWhilePaused(const void* encoder);

// A pause on the wall clock (100 ns since 1970); `endTicks` 0 while it lasts.
struct RecordingPause {
    int64_t startTicks = 0;
    int64_t endTicks = 0;
};
// The recording's pauses, in order (for tracks.json and the live status).
std::vector<RecordingPause> readRecordingPauses();

// The bump points, one call each.
void countScreenSample();
inline void countWebcamSample() { recordingStatus.webcamSamples.fetch_add(1, std::memory_order_relaxed); }
inline void countInputEvent() { recordingStatus.inputEvents.fetch_add(1, std::memory_order_relaxed); }
inline void countGatedInputEvent() { recordingStatus.inputEventsGated.fetch_add(1, std::memory_order_relaxed); }
// A track's first sample (its wall-clock moment) and where its last one ends.
inline void markTrackStart(TrackTiming& timing, int64_t wallTicks) { timing.startTicks.store(wallTicks, std::memory_order_relaxed); }
inline void markTrackEnd(TrackTiming& timing, int64_t durationTicks) { timing.durationTicks.store(durationTicks, std::memory_order_relaxed); }
// The name of the device a track records, once it is known (not on a capture path).
void setTrackDevice(const char* track, std::string name);
// Called from the shared audio callback with the encoder it writes into (16-bit mono frames);
// returns the frames of silence to write around them (see AudioTrackStatus::countFrames).
AudioFill countAudioFrames(const void* encoder, const void* samples, uint32_t frames,
                           std::optional<int64_t> firstFrameAgeTicks = std::nullopt);
// The audio track that `encoder` belongs to, or nullptr.
AudioTrackStatus* audioTrackOf(const void* encoder);
// A stretch of a video track's file (100 ns from its start) with no frames: its device was away.
void addTrackGap(const char* track, int64_t fromTicks, int64_t toTicks);
// A track that failed, lost its device or has an outage enters the failures (once, with its first
// report); one whose device came back leaves them again. reportTrackEvent() calls these.
void noteTrackFailure(const char* track, TrackEventCode code, const std::string& message);
void clearTrackFailure(const char* track);
// The device writing into `encoder` had its clock restarted: frames before it may be missing, so
// the track's start is estimated again from the frames that follow.
void restartAudioStartEstimate(const void* encoder);

// Something about a track worth knowing that did not stop it (a warning reported for it): its
// name, the event code's name and the line it logged.
struct TrackWarning {
    std::string track;
    std::string code;
    std::string message;
};
// Keeps a warning for the live status and tracks.json (each code once per track).
void noteTrackWarning(const char* track, const char* code, const std::string& message);

// A track that stopped with an error while recording: its name, the line it logged and why.
struct TrackFailure {
    std::string track;
    std::string message;
    TrackEventCode code = TrackEventCode::other;
};

struct RecordingStatusSnapshot {
    bool recording = false;
    double elapsedMs = 0;
    uint64_t screenSamples = 0;
    uint32_t screenSamplesLastSecond = 0;
    uint64_t webcamSamples = 0;
    uint64_t webcamGaps = 0;  // times the camera was away and came back (or is away at the end)
    uint64_t microphoneFrames = 0;
    double microphonePeak = 0;  // 0..1
    uint64_t systemAudioFrames = 0;
    double systemAudioPeak = 0;
    // The devices' clocks: rate error (ppm, once measured) and correction so far (ms).
    std::optional<double> microphoneRatePpm;
    double microphoneCorrectionMs = 0;
    std::optional<double> systemAudioRatePpm;
    double systemAudioCorrectionMs = 0;
    uint64_t inputEvents = 0;
    std::vector<TrackFailure> failures;
    bool paused = false;
    double pausedMs = 0;  // the pauses so far, the current one included
    std::vector<RecordingPause> pauses;
    std::vector<TrackWarning> warnings;
};

// A stretch of a video track's file (100 ns from its start) without frames: its device was away.
struct TrackGap {
    std::string track;
    int64_t from;
    int64_t to;
};

// A stretch of a track during which its source delivered nothing new (the screen behind a lock
// screen): the file goes on holding the last picture. Wall clock, 100 ns; end 0 while it lasts.
struct TrackOutage {
    int64_t startTicks = 0;
    int64_t endTicks = 0;
};
// Not on a capture path: called when an outage begins and when it ends.
void beginTrackOutage(const char* track, int64_t wallTicks);
void endTrackOutage(const char* track, int64_t wallTicks);

// The display the screen track records, in virtual-desktop pixels (positions.json's).
struct RecordedDisplay {
    int32_t index = -1;
    std::string name;
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    uint32_t rotation = 0;  // clockwise degrees; the video is upright whatever it is
};
// Once the screen track knows it (not on a capture path).
void setScreenDisplay(const RecordedDisplay& display);

// A track's figures for tracks.json, read once the recording has ended.
struct TrackRecord {
    std::optional<RecordedDisplay> display;  // the screen track's
    std::string device;
    int64_t startTicks = 0;  // wall clock, 0 when no sample was captured
    int64_t durationTicks = 0;
    uint64_t count = 0;
    uint64_t lost = 0;
    // Audio tracks: the device's measured rate error (ppm), once measured, and the resampling's
    // total correction (ms of audio added, negative: removed).
    std::optional<double> rateErrorPpm;
    double correctionMs = 0;
    uint64_t dropped = 0;  // device frames left out
    // Stretches of the file without frames (100 ns from its start): from, to.
    std::vector<std::pair<int64_t, int64_t>> gaps;
    std::vector<TrackOutage> outages;
    std::vector<TrackWarning> warnings;  // this track's
};

// `track` is "screen", "webcam", "microphone", "systemAudio" or "input".
TrackRecord readTrackRecord(const std::string& track);

RecordingStatusSnapshot readRecordingStatus();
