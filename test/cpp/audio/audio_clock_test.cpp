// The audio clock on simulated devices: clocks that run fast or slow for an hour, callbacks late
// by the scheduler, devices lost and back, frames that never came, and devices that deliver far
// too many or too few frames. The clocks are the test's own, so nothing waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "audio/audio_clock.h"
#include "audio/track_resampler.h"

namespace {

constexpr int64_t second = AudioClock::ticksPerSecond;
constexpr int64_t ms = second / 1000;

struct FakeClocks {
    int64_t steady = 1000 * second;
    AudioClock clock{[this] { return steady; }, [this] { return steady + 5000000 * second; }};
};

// A device whose crystal runs `ppm` fast (negative: slow) delivers `period` frames per callback;
// each callback runs late by up to `jitter`. With `timed`, the backend says when the first frame
// was captured. Feeds the frames through the real resampler, as the audio callback does.
struct Device {
    FakeClocks& clocks;
    double ppm = 0;
    uint32_t period = 400;
    int64_t jitter = 0;
    bool timed = false;
    std::mt19937 random{7};
    TrackResampler resampler;
    uint64_t delivered = 0;  // device frames so far
    int64_t began = 0;       // steady clock of the device's first frame
    // What the file got.
    uint64_t before = 0, after = 0, dropped = 0;
    double worstErrorMs = 0;  // the file's length against the time its newest frame was captured
    std::vector<int16_t> frames = std::vector<int16_t>(400, 0);

    Device(FakeClocks& clocks, double ppm, bool timed, int64_t jitter) : clocks(clocks), ppm(ppm), jitter(jitter), timed(timed) {
        began = clocks.steady + 3 * ms;
    }

    // Device frame `n` is captured at this moment.
    int64_t capturedAt(uint64_t n) const {
        return began + static_cast<int64_t>(std::llround(static_cast<double>(n) * second / (16000.0 * (1 + ppm * 1e-6))));
    }

    // One callback: the period completes, the callback runs a little later.
    void callback(bool afterGap = false, bool restart = false) {
        const int64_t firstCaptured = capturedAt(delivered);
        const int64_t complete = capturedAt(delivered + period);
        std::uniform_int_distribution<int64_t> late(0, jitter);
        clocks.steady = std::max(clocks.steady, complete + late(random));
        const std::optional<int64_t> age = timed ? std::optional<int64_t>(clocks.steady - firstCaptured) : std::nullopt;
        if (frames.size() < period) frames.resize(period);
        const AudioClock::Placement p = clocks.clock.place(period, age, restart, afterGap);
        uint32_t written = 0;
        resampler.process(frames.data() + p.dropped, period - p.dropped, p.ratio, written);
        clocks.clock.wrote(period - p.dropped, written);
        before += p.before;
        after += p.after;
        dropped += p.dropped;
        delivered += period;
    }

    // How far the file's end lies from where the capture moment of its newest frame puts it (ms),
    // on the file's own start estimate, and how far that estimate lies from the device's real start.
    double errorMs() const {
        const double due = static_cast<double>(capturedAt(delivered) - clocks.clock.firstSteadyTicks()) / second;
        return (static_cast<double>(clocks.clock.frames()) / 16000.0 - due) * 1000.0;
    }

    void run(double seconds) {
        const uint64_t until = delivered + static_cast<uint64_t>(seconds * 16000 * (1 + ppm * 1e-6));
        while (delivered < until) {
            callback();
            worstErrorMs = std::max(worstErrorMs, std::abs(errorMs()));
        }
    }
};

struct Drift {
    double ppm;
    bool timed;
    int64_t jitter;
};

class DriftingDevice : public ::testing::TestWithParam<Drift> {};

TEST_P(DriftingDevice, StaysOnTheClockForAnHourWithNothingInsertedOrLeftOut) {
    const Drift d = GetParam();
    FakeClocks clocks;
    Device device(clocks, d.ppm, d.timed, d.jitter);
    device.run(60);
    const double firstMinute = device.worstErrorMs;
    device.run(59 * 60);
    EXPECT_LT(firstMinute, 10.0);
    EXPECT_LT(device.worstErrorMs, 10.0) << "at any moment of the hour";
    EXPECT_LT(std::abs(device.errorMs()), 3.0) << "at its end";
    EXPECT_NEAR(static_cast<double>(clocks.clock.firstSteadyTicks() - device.began) / ms, 0.0, 2.0) << "the start";
    EXPECT_EQ(device.before + device.after, 0u) << "no silence inserted";
    EXPECT_EQ(device.dropped, 0u) << "no frames left out";
    ASSERT_TRUE(clocks.clock.rateErrorPpm().has_value());
    EXPECT_NEAR(*clocks.clock.rateErrorPpm(), d.ppm, 10.0);
    // A fast device's hour loses its surplus frames to the resampling, a slow one's gains them.
    const double expected = -d.ppm * 1e-6 * 3600 * 16000;
    EXPECT_NEAR(static_cast<double>(clocks.clock.correctionFrames()), expected, 16 * 5.0);
    EXPECT_EQ(clocks.clock.pace(), AudioClock::Pace::normal);
}

INSTANTIATE_TEST_SUITE_P(Clocks, DriftingDevice,
                         ::testing::Values(Drift{500, false, 4 * ms}, Drift{-500, false, 4 * ms}, Drift{0, false, 4 * ms},
                                           Drift{120, true, 2 * ms}, Drift{-60, true, 2 * ms}, Drift{-1500, false, 8 * ms}));

TEST(AudioClock, TheStartIsTheEarliestCaptureAndNoFrameGoesBeforeTheRecording) {
    FakeClocks clocks;
    Device device(clocks, 0, false, 0);
    // The first callback ran 30 ms late; the later ones on time pull the start earlier.
    clocks.steady = device.capturedAt(400) + 30 * ms;
    device.callback();
    device.run(1);
    EXPECT_NEAR(static_cast<double>(clocks.clock.firstSteadyTicks()), static_cast<double>(device.began), 0.2 * ms);
    EXPECT_EQ(device.dropped, 0u);

    // A backend that says its first frame was captured a second before the recording began:
    // those frames are left out, the rest starts with the recording.
    FakeClocks again;
    const int64_t recordingBegan = again.steady;
    again.steady += 10 * ms;
    std::vector<int16_t> block(32000, 0);
    const AudioClock::Placement p = again.clock.place(32000, 2 * second, false, false);
    again.clock.wrote(32000 - p.dropped, 32000 - p.dropped);
    EXPECT_GE(again.clock.firstSteadyTicks(), recordingBegan - 50 * ms);
    EXPECT_NEAR(static_cast<double>(p.dropped), 16000.0 * 1.94, 16.0) << "all but the last 60 ms";
}

TEST(AudioClock, ADeviceThatComesBackFillsItsGapAndStaysOnTheClock) {
    FakeClocks clocks;
    AudioClock& clock = clocks.clock;
    const auto callback = [&](uint32_t count, int64_t age, bool afterGap = false) {
        const AudioClock::Placement p = clock.place(count, age, false, afterGap);
        clock.wrote(count - p.dropped, count - p.dropped);
        return p;
    };
    // Captured 25 ms ago by the backend's report: the file's next frame is due now.
    callback(400, 25 * ms);
    const int64_t start = clock.startWallTicks();
    EXPECT_EQ(start, clocks.steady - 25 * ms + 5000000 * second);

    // Lost for 300 ms: the first callback of the reopened device (25 ms captured up to now)
    // fills the gap before its frames.
    clocks.steady += 300 * ms;
    AudioClock::Placement p = callback(400, 25 * ms, true);
    EXPECT_EQ(p.before, 16u * 275);
    EXPECT_EQ(clock.lastGapFrames(), p.before);
    EXPECT_EQ(p.dropped, 0u);
    EXPECT_EQ(clock.startWallTicks(), start) << "the start stays";

    // A callback whose first frame was captured 20 ms before the file's next frame is due (the
    // fill was 20 ms too long): its first 20 ms are left out.
    clocks.steady += 25 * ms;
    const uint64_t held = clock.frames();
    p = callback(400, 45 * ms);
    EXPECT_EQ(p.dropped, 320u);
    EXPECT_EQ(clock.frames(), held + 80);
    EXPECT_EQ(clock.startWallTicks(), start);

    // Gone again at the end: silence up to now.
    clocks.steady += 200 * ms;
    const uint64_t lostBefore = clock.filledFrames();
    const uint64_t toEnd = clock.fillUntilNow();
    EXPECT_EQ(toEnd, 16u * 220) << "from the end of the frames kept";
    EXPECT_EQ(clock.filledFrames(), lostBefore + toEnd);
}

TEST(AudioClock, CallbacksTimedByTheBackendThatLagShowLostFramesAtOnce) {
    FakeClocks clocks;
    AudioClock& clock = clocks.clock;
    // `count` blocks of 25 ms, one every 25 ms, each lagging `lag` behind where the file puts it
    // (frames before it never came); timed ones say their first frame is 25 ms old.
    const auto callbacks = [&](int count, int64_t lag, bool timed) {
        uint64_t filled = 0;
        for (int i = 0; i < count; ++i) {
            clocks.steady += 25 * ms;
            const std::optional<int64_t> age = timed ? std::optional<int64_t>(25 * ms - lag) : std::nullopt;
            const AudioClock::Placement p = clock.place(400, age, false, false);
            clock.wrote(400 - p.dropped, 400 - p.dropped);
            filled += p.after;
        }
        return filled;
    };
    EXPECT_EQ(callbacks(4, 0, true), 0u) << "on the clock";
    EXPECT_EQ(callbacks(3, 50 * ms, true), 0u) << "three in a row lagging 50 ms are not yet enough";
    EXPECT_EQ(callbacks(1, 50 * ms, true), 800u) << "the fourth fills the 50 ms";
    EXPECT_EQ(callbacks(6, 50 * ms, true), 0u) << "back on the clock after the fill";
    // A stalled thread's untimed callbacks look late but are waited out: its burst catches up.
    clocks.steady += 100 * ms;
    const uint64_t filledBefore = clock.filledFrames();
    for (int i = 0; i < 5; ++i) {
        const AudioClock::Placement p = clock.place(400, std::nullopt, false, false);
        clock.wrote(400 - p.dropped, 400 - p.dropped);
    }
    EXPECT_EQ(callbacks(40, 0, false), 0u);
    EXPECT_EQ(clock.filledFrames(), filledBefore);
}

TEST(AudioClock, ADeviceThatDeliversFarTooManyFramesIsPacedAndNamed) {
    // ALSA's null device: zeros as fast as they are read, a period every few microseconds.
    FakeClocks clocks;
    AudioClock& clock = clocks.clock;
    const int64_t began = clocks.steady;
    uint64_t offered = 0;
    while (clocks.steady - began < 3 * second) {
        clocks.steady += second / 100000;
        const AudioClock::Placement p = clock.place(160, std::nullopt, false, false);
        clock.wrote(160 - p.dropped, 160 - p.dropped);
        offered += 160;
        if (clock.pace() == AudioClock::Pace::fast) break;
    }
    EXPECT_GT(offered, 100u * 16000);
    const double seconds = static_cast<double>(clock.frames()) / 16000.0;
    const double elapsed = static_cast<double>(clocks.steady - began) / second;
    EXPECT_LE(seconds, elapsed + 0.075) << "never ahead of the clock by more than the start's slack";
    EXPECT_GE(seconds, elapsed - 0.05);
    EXPECT_EQ(clock.pace(), AudioClock::Pace::fast);
    EXPECT_NEAR(elapsed, 2.0, 0.1) << "named after two whole seconds of it";
    EXPECT_GT(clock.deliveredRate(), 1e6);
}

TEST(AudioClock, ADeviceThatDeliversFarTooFewFramesGetsSilenceAndIsNamedUntilItRecovers) {
    FakeClocks clocks;
    AudioClock& clock = clocks.clock;
    const int64_t began = clocks.steady;
    // A 25 ms period every 75 ms: a third of its rate.
    for (int i = 0; i < 80; ++i) {
        clocks.steady += 75 * ms;
        const AudioClock::Placement p = clock.place(400, std::nullopt, false, false);
        clock.wrote(400 - p.dropped, 400 - p.dropped);
    }
    EXPECT_EQ(clock.pace(), AudioClock::Pace::slow);
    const double elapsed = static_cast<double>(clocks.steady - began) / second;
    EXPECT_NEAR(static_cast<double>(clock.frames()) / 16000.0, elapsed, 1.1) << "silence keeps it near the clock";
    EXPECT_GT(clock.filledFrames(), 0u);
    for (int i = 0; i < 120; ++i) {
        clocks.steady += 25 * ms;
        const AudioClock::Placement p = clock.place(400, std::nullopt, false, false);
        clock.wrote(400 - p.dropped, 400 - p.dropped);
    }
    EXPECT_EQ(clock.pace(), AudioClock::Pace::normal);
    const double later = static_cast<double>(clocks.steady - began) / second;
    EXPECT_NEAR(static_cast<double>(clock.frames()) / 16000.0, later, 0.06);
}

TEST(AudioClock, TheResamplerKeepsTheFramesAtARatioOfOneAndMakesMoreOrFewerOtherwise) {
    TrackResampler resampler;
    std::vector<int16_t> ramp(1000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i);
    uint32_t produced = 0;
    const int16_t* out = resampler.process(ramp.data(), 1000, 1.0, produced);
    ASSERT_EQ(produced, 1000u);
    for (uint32_t i = 1; i < produced; ++i) ASSERT_EQ(out[i], ramp[i - 1]) << "one frame late, otherwise the same";
    uint64_t total = 0;
    for (int i = 0; i < 100; ++i) {
        resampler.process(ramp.data(), 1000, 1.002, produced);
        total += produced;
    }
    EXPECT_NEAR(static_cast<double>(total), 100200.0, 2.0);
}

}  // namespace
