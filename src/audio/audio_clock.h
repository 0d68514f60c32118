#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Keeps one audio track on the recording's clock. Every device runs on a crystal of its own, its
// callbacks come late by whatever the scheduler adds, and some devices lose frames or deliver far
// too many. From each callback's frame count and capture moment this decides where its frames
// go in the file: silence before them (a device back after a gap), leading frames to leave out
// (frames ahead of the clock), silence after them (frames that went missing), and the ratio by
// which to resample them so that a device whose clock runs fast or slow still fills exactly one
// second of the file per second of the recording.
//
// Not thread-safe: the device thread calls it, and the recorder thread only once the device is
// closed. Both clocks are injectable, so its tests run without waiting.
class AudioClock {
public:
    using TickSource = std::function<int64_t()>;  // 100 ns ticks
    static constexpr int64_t rate = 16000;
    static constexpr int64_t ticksPerSecond = 10000000;

    // The system's steady clock and wall clock.
    AudioClock();
    AudioClock(TickSource steady, TickSource wall);

    // A new recording that begins now: no frame of it can have been captured before.
    void reset();

    struct Placement {
        uint64_t before = 0;  // silence before the frames (the device is back after a gap)
        uint32_t dropped = 0;  // leading frames left out: they would sit ahead of the clock
        uint32_t after = 0;   // silence after them: frames went missing before this callback
        double ratio = 1.0;   // file frames per device frame for the frames kept
    };
    // One callback's `count` frames. `firstFrameAgeTicks`: how long ago its first frame was
    // captured, when the backend says. `restart`: the device's clock was restarted (the start is
    // estimated afresh). `afterGap`: the first callback of a device that was lost and is back.
    Placement place(uint32_t count, std::optional<int64_t> firstFrameAgeTicks, bool restart, bool afterGap);
    // The frames kept from the last placement became `written` frames of the file.
    void wrote(uint32_t kept, uint64_t written);
    // Silence from the last frame up to now, counted as lost (the device is gone at the end of
    // the recording); 0 before the first frame.
    uint64_t fillUntilNow();

    enum class Pace { normal, fast, slow };

    uint64_t frames() const { return filed; }
    uint64_t filledFrames() const { return filled; }
    uint64_t droppedFrames() const { return dropped; }
    uint64_t lastGapFrames() const { return lastGap; }
    int64_t firstSteadyTicks() const { return t0; }
    int64_t wallMinusSteady() const { return wallOffset; }
    int64_t lastCallbackTicks() const { return lastCallback; }
    // Wall clock (100 ns) when the first frame was captured, 0 before it.
    int64_t startWallTicks() const { return filed == 0 ? 0 : t0 + wallOffset; }
    // How fast the device's clock runs against the recording's (parts per million, positive when
    // it delivers too many frames); nullopt until it has been measured.
    std::optional<double> rateErrorPpm() const { return measured ? std::optional<double>(devicePpm) : std::nullopt; }
    // Frames the resampling added to the file so far (negative: removed).
    int64_t correctionFrames() const { return correction; }
    // A device that has delivered far faster or slower than its rate for more than a second.
    Pace pace() const { return paceState; }
    // The deliveries of the last whole second, as frames per second (for the lines about it).
    double deliveredRate() const { return lastDeliveredRate; }

private:
    struct Point {
        double at;      // seconds since the start, steady clock
        double offset;  // seconds: capture moment minus the device's frames so far
    };

    void closeWindow(int64_t lagTicks);
    void watchPace(int64_t now, uint32_t count);
    void measureRate();
    void restartRate();

    TickSource steady;
    TickSource wall;

    int64_t floorTicks = 0;  // no frame was captured before this (steady)
    bool started = false;
    int64_t t0 = 0;          // steady clock of the file's first frame
    int64_t wallOffset = 0;
    int64_t lastCallback = 0;
    uint64_t filed = 0;       // frames in the file, silence included
    uint64_t filled = 0;      // of them silence for frames that never came
    uint64_t dropped = 0;     // device frames left out
    uint64_t lastGap = 0;
    uint32_t pendingAfter = 0;  // silence placed after the frames being written
    uint64_t settleEnd = 0;   // the start is the earliest estimate until the file holds this much
    uint64_t catchUpEnd = 0;  // after a gap, frames ahead of the clock are left out until here
    bool settled = false;     // after a gap the start stays where the frames before it put it

    // Timed callbacks that lag behind the start by about the same amount.
    uint32_t lateCallbacks = 0;
    int64_t lateMinimum = 0;
    int64_t lateMaximum = 0;
    // A fragment that miniaudio hands over in several callbacks under one timing report.
    int64_t fragmentCaptured = 0;
    uint64_t fragmentFrames = 0;

    // One second of the file at a time: the earliest implied start within it, and the earliest
    // offset of the device's own frames (for the rate).
    uint64_t windowEnd = 0;
    int64_t windowEndTicks = 0;
    int64_t windowMinimum = 0;
    int64_t lastWindowExcess = 0;
    bool offsetSeen = false;
    Point windowOffset{};
    uint64_t deviceFrames = 0;  // what the device delivered (and what went missing), since `rateOrigin`
    bool rateStarted = false;
    int64_t rateOrigin = 0;
    std::vector<Point> offsets;  // the last minutes' window points
    std::vector<double> slopes;  // scratch
    bool measured = false;
    double devicePpm = 0;
    double ratio = 1.0;
    int64_t correction = 0;

    // Deliveries per second of the steady clock, against the device's rate.
    bool paceStarted = false;
    int64_t paceWindowStart = 0;
    uint64_t paceFrames = 0;
    int fastWindows = 0;
    int slowWindows = 0;
    Pace paceState = Pace::normal;
    double lastDeliveredRate = 0;
};
