// A track that records the default output moves with it: the watch reports a new default while
// the recorder thread watches its device. miniaudio's null backend stands in for the outputs (it
// delivers silence on a timer on every platform, Wine included), a scripted watch for the system.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "audio/track_capture.h"
#include "common/captured_log.h"
#include "recording_status.h"

namespace audio_test {
namespace {

class ScriptedWatch : public DefaultOutputWatch {
public:
    uint64_t changes() const override { return changeCount.load(); }
    std::string currentDefault() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return current;
    }
    bool alive() const override { return true; }
    void moveTo(std::string output) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = std::move(output);
        }
        changeCount.fetch_add(1);
    }

private:
    mutable std::mutex mutex;
    std::string current = "speakers";
    std::atomic<uint64_t> changeCount{0};
};

struct FollowRun {
    test_support::CapturedLog log;
    int opens = 0;
    uint64_t frames = 0;
    double seconds = 0;
};

// Records 1.5 s from the null backend; `during` runs on another thread meanwhile.
// `movedWhileOpening`: the user picks another output while the first device opens, after the
// recorder's watch began.
template <typename During>
void record(FollowRun& run, ScriptedWatch* watch, During during, bool newOutputOpens = true, bool movedWhileOpening = false) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "desktracks-follow-test.wav";
    WavTrackFile wav;
    ASSERT_EQ(wav.open(file), MA_SUCCESS);
    // A recording's figures start from zero, as every recording's do (the cases share one process
    // when the test program runs whole, as it does on Windows).
    recordingStatus.systemAudio.reset();
    recordingStatus.systemAudio.source.store(wav.encoder());
    const auto open = [&](AudioDevice& device) {
        if (++run.opens == 1 && movedWhileOpening) watch->moveTo("headphones");
        if (run.opens > 1 && !newOutputOpens) return false;
        return device.initOnBackend(ma_backend_null, trackCaptureConfig(ma_device_type_capture, nullptr, wav)) == MA_SUCCESS;
    };
    AudioDevice device;
    ASSERT_TRUE(open(device));
    CaptureTrack track{"playbackRecorder:", "systemAudio", "playbackRecorder: Failed to start device.", "Null Capture Device",
                       open, nullptr};
    if (watch != nullptr) {
        if (movedWhileOpening) track.defaultAtOpen = "speakers";
        track.watchDefaultOutput = [watch] {
            // The recorder owns the watch it is given; this one outlives it.
            struct Borrowed : DefaultOutputWatch {
                explicit Borrowed(ScriptedWatch* w) : w(w) {}
                uint64_t changes() const override { return w->changes(); }
                std::string currentDefault() const override { return w->currentDefault(); }
                bool alive() const override { return true; }
                ScriptedWatch* w;
            };
            return std::unique_ptr<DefaultOutputWatch>(new Borrowed(watch));
        };
    }
    std::atomic<bool> running{true};
    std::chrono::steady_clock::time_point started;
    std::thread script([&] {
        // From the first frames on (a device may take a while to start, under Wine especially).
        while (recordingStatus.systemAudio.frames.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        started = std::chrono::steady_clock::now();
        during();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        running.store(false);
    });
    recordUntilLowered(device, wav, running, *run.log.logger, track);
    script.join();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.frames = recordingStatus.systemAudio.frames.load();
    recordingStatus.systemAudio.source.store(nullptr);
    std::filesystem::remove(file);
}

TEST(DefaultOutputFollow, ANewDefaultMovesTheTrackWithOneLineAndNoLoss) {
    ScriptedWatch watch;
    FollowRun run;
    record(run, &watch, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        watch.moveTo("headphones");
    });
    EXPECT_EQ(run.opens, 2) << "opened once more, on the new output";
    EXPECT_TRUE(run.log.errors().empty()) << run.log.errors().front();
    int moved = 0;
    for (const std::string& line : run.log.messages()) {
        if (line.rfind("playbackRecorder: the default output changed; recording \"", 0) == 0) ++moved;
    }
    EXPECT_EQ(moved, 1);
    // The file lasts as long as the recording, the switch filled with silence.
    EXPECT_NEAR(static_cast<double>(run.frames) / 16000, run.seconds, 0.4);  // a reopening after a loss would cost a second
}

TEST(DefaultOutputFollow, ANewDefaultWhileTheDeviceOpensIsFollowedAtOnce) {
    ScriptedWatch watch;
    FollowRun run;
    record(run, &watch, [] {}, true, true);
    EXPECT_EQ(run.opens, 2) << "opened again, on the output chosen meanwhile";
    EXPECT_TRUE(run.log.errors().empty()) << run.log.errors().front();
    EXPECT_NEAR(static_cast<double>(run.frames) / 16000, run.seconds, 0.4);
}

TEST(DefaultOutputFollow, RolesReportedAgainForTheSameOutputMoveNothing) {
    ScriptedWatch watch;
    FollowRun run;
    record(run, &watch, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // Windows calls once per role; the same endpoint each time after the first.
        watch.moveTo("speakers");
        watch.moveTo("speakers");
    });
    EXPECT_EQ(run.opens, 1);
    EXPECT_TRUE(run.log.messages().empty());
}

TEST(DefaultOutputFollow, ANewOutputThatCannotBeOpenedKeepsTheOldOne) {
    ScriptedWatch watch;
    FollowRun run;
    record(
        run, &watch, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            watch.moveTo("bluetooth");
        },
        false);
    EXPECT_EQ(run.opens, 2);
    EXPECT_TRUE(run.log.messages().empty()) << "still recording the old output, nothing lost";
    EXPECT_NEAR(static_cast<double>(run.frames) / 16000, run.seconds, 0.4);  // a reopening after a loss would cost a second
}

}  // namespace
}  // namespace audio_test
