#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_clock.h"
#include "audio/track_resampler.h"

// Live figures of the running recording, for a host app that shows progress. Recorder threads
// bump them at one point each with relaxed atomics (no locks, nothing the capture paths notice);
// readers take a snapshot at any time. Process-wide like the run flags: one recording at a time.

// What the audio callback writes for a callback's frames: silence before them, the frames
// themselves (after leaving some out and resampling), silence after them.
struct AudioFill {
    uint64_t before = 0;  // the device came back after a gap
    uint32_t after = 0;   // frames went missing within the last seconds
    uint32_t dropped = 0;  // the callback's first frames are left out: they would sit ahead of the clock
    const int16_t* samples = nullptr;  // the frames to write, `count` of them
    uint32_t count = 0;
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
    AudioClock clock;
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
    // The devices' clocks: rate error (ppm, once measured) and correction so far (ms).
    std::optional<double> microphoneRatePpm;
    double microphoneCorrectionMs = 0;
    std::optional<double> systemAudioRatePpm;
    double systemAudioCorrectionMs = 0;
    uint64_t inputEvents = 0;
    std::vector<TrackFailure> failures;
    std::vector<TrackWarning> warnings;
};

// A track's figures for tracks.json, read once the recording has ended.
struct TrackRecord {
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
    std::vector<TrackWarning> warnings;  // this track's
};

// `track` is "screen", "webcam", "microphone", "systemAudio" or "input".
TrackRecord readTrackRecord(const std::string& track);

RecordingStatusSnapshot readRecordingStatus();
