#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Live figures of the running recording, for a host app that shows progress. Recorder threads
// bump them at one point each with relaxed atomics (no locks, nothing the capture paths notice);
// readers take a snapshot at any time. Process-wide like the run flags: one recording at a time.

// Frames of silence the audio callback writes around a callback's own frames.
struct AudioFill {
    uint64_t before = 0;  // the device came back after a gap
    uint32_t after = 0;   // frames went missing within the last seconds
    uint32_t dropped = 0;  // the callback's first frames are left out: they would sit ahead of the clock
};

struct AudioTrackStatus {
    // The encoder this track's device writes into; the shared audio callback finds its track by it.
    std::atomic<const void*> source{nullptr};
    std::atomic<uint64_t> frames{0};
    // Largest |sample| of the last complete 100 ms block, 0..32768.
    std::atomic<uint32_t> peak{0};
    // Owned by the device thread: the block being measured.
    std::atomic<uint32_t> blockPeak{0};
    std::atomic<uint32_t> blockFrames{0};
    // Owned by the device thread: when the first frame was captured (steady clock, 100 ns), the
    // wall clock's offset from the steady one, the same estimate over the current second of
    // audio, and how far the last second's estimate lay behind the first one.
    std::atomic<int64_t> firstSteadyTicks{0};
    std::atomic<int64_t> wallMinusSteady{0};
    std::atomic<int64_t> windowMinimum{0};
    std::atomic<int64_t> lastWindowExcess{0};
    std::atomic<int64_t> windowEnd{0};  // audio time (100 ns) at which the current second ends
    // Owned by the device thread: callbacks in a row, timed by the backend, that lay behind the
    // first estimate by about the same lag, and the least and greatest of their lags.
    std::atomic<uint32_t> lateCallbacks{0};
    std::atomic<int64_t> lateMinimum{0};
    std::atomic<int64_t> lateMaximum{0};
    // Owned by the device thread: the capture moment of the fragment the last timed callback came
    // from, and the frames handed over from it so far.
    std::atomic<int64_t> fragmentCaptured{0};
    std::atomic<uint64_t> fragmentFrames{0};
    // Frames of silence written where the device delivered none (gaps, overruns).
    std::atomic<uint64_t> filledFrames{0};
    // Set when the device's clock was restarted: the estimate starts over with the next callback.
    std::atomic<bool> rebase{false};
    // Steady clock (100 ns) of the last callback, for the recorder thread's watch on its device.
    std::atomic<int64_t> lastCallbackTicks{0};
    // Set by the recorder thread before a lost device starts again: the next callback fills the
    // time since the last frame with silence (the size of that fill lands in `lastGapFrames`), and
    // from then on the start estimate stays where the frames before the gap put it.
    std::atomic<bool> gapPending{false};
    std::atomic<bool> startSettled{false};
    std::atomic<uint64_t> lastGapFrames{0};

    // Counts a callback's frames; says how many frames of silence go before and after them for
    // frames the device never delivered, and after a gap how many of them to leave out (all
    // already counted).
    // `firstFrameAgeTicks`: how long before now the first of them was captured, when the device
    // says (100 ns).
    AudioFill countFrames(const int16_t* samples, uint32_t count, std::optional<int64_t> firstFrameAgeTicks = std::nullopt);
    // Silence from the last frame up to now, counted as lost (the device is gone at the end of the
    // recording); 0 before the first frame.
    uint64_t fillUntilNow();
    // Wall clock (100 ns) when the first frame was captured, 0 before it.
    int64_t startWallTicks() const;
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
};

extern RecordingStatus recordingStatus;

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
// A track whose device came back is no longer failed: its entry leaves the failures again.
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

// A track that stopped with an error while recording: its name and the line it logged.
struct TrackFailure {
    std::string track;
    std::string message;
};

struct RecordingStatusSnapshot {
    bool recording = false;
    double elapsedMs = 0;
    uint64_t screenSamples = 0;
    uint32_t screenSamplesLastSecond = 0;
    uint64_t webcamSamples = 0;
    uint64_t microphoneFrames = 0;
    double microphonePeak = 0;  // 0..1
    uint64_t systemAudioFrames = 0;
    double systemAudioPeak = 0;
    uint64_t inputEvents = 0;
    std::vector<TrackFailure> failures;
    std::vector<TrackWarning> warnings;
};

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
    std::vector<TrackWarning> warnings;  // this track's
};

// `track` is "screen", "webcam", "microphone", "systemAudio" or "input".
TrackRecord readTrackRecord(const std::string& track);

RecordingStatusSnapshot readRecordingStatus();
