#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Live figures of the running recording, for a host app that shows progress. Recorder threads
// bump them at one point each with relaxed atomics (no locks, nothing the capture paths notice);
// readers take a snapshot at any time. Process-wide like the run flags: one recording at a time.

struct AudioTrackStatus {
    // The encoder this track's device writes into; the shared audio callback finds its track by it.
    std::atomic<const void*> source{nullptr};
    std::atomic<uint64_t> frames{0};
    // Largest |sample| of the last complete 100 ms block, 0..32768.
    std::atomic<uint32_t> peak{0};
    // Owned by the device thread: the block being measured.
    std::atomic<uint32_t> blockPeak{0};
    std::atomic<uint32_t> blockFrames{0};

    void countFrames(const int16_t* samples, uint32_t count);
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
};

extern RecordingStatus recordingStatus;

// The bump points, one call each.
void countScreenSample();
inline void countWebcamSample() { recordingStatus.webcamSamples.fetch_add(1, std::memory_order_relaxed); }
inline void countInputEvent() { recordingStatus.inputEvents.fetch_add(1, std::memory_order_relaxed); }
// Called from the shared audio callback with the encoder it writes into (16-bit mono frames).
void countAudioFrames(const void* encoder, const void* samples, uint32_t frames);

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
};

RecordingStatusSnapshot readRecordingStatus();
