// The live status: audio routed to its track by encoder, the peak of each 100 ms block, the
// screen rate over the last second, and the failures, losses and returns that tracks report.
#include <gtest/gtest.h>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "addon/live_status.h"
#include "recording_status.h"
#include "track_events.h"
#include "wall_clock.h"

namespace {

std::shared_ptr<spdlog::logger> quietLogger() {
    return std::make_shared<spdlog::logger>("status_test", std::make_shared<spdlog::sinks::null_sink_mt>());
}

TEST(RecordingStatus, AudioGoesToTheTrackOfItsEncoderAndThePeakIsPerBlock) {
    beginLiveStatus(*quietLogger());
    int micEncoder = 0, systemEncoder = 0, strangerEncoder = 0;
    recordingStatus.microphone.source.store(&micEncoder);
    recordingStatus.systemAudio.source.store(&systemEncoder);

    std::vector<int16_t> loud(800, 0);
    loud[10] = -20000;  // the magnitude counts, whatever the sign
    std::vector<int16_t> soft(800, 100);
    countAudioFrames(&micEncoder, loud.data(), 800);
    EXPECT_EQ(readRecordingStatus().microphonePeak, 0.0) << "a block of 1600 frames is not complete yet";
    countAudioFrames(&micEncoder, soft.data(), 800);
    EXPECT_DOUBLE_EQ(readRecordingStatus().microphonePeak, 20000.0 / 32768.0);
    countAudioFrames(&micEncoder, soft.data(), 800);
    countAudioFrames(&micEncoder, soft.data(), 800);
    EXPECT_DOUBLE_EQ(readRecordingStatus().microphonePeak, 100.0 / 32768.0) << "the next block replaces the peak";

    countAudioFrames(&systemEncoder, soft.data(), 300);
    countAudioFrames(&strangerEncoder, loud.data(), 800);
    const RecordingStatusSnapshot s = readRecordingStatus();
    EXPECT_EQ(s.microphoneFrames, 3200u);
    EXPECT_EQ(s.systemAudioFrames, 300u);
    EXPECT_TRUE(s.recording);
    endLiveStatus();
    EXPECT_FALSE(readRecordingStatus().recording);
}

TEST(RecordingStatus, ScreenSamplesCountAndTheLastSecondIsWholeBuckets) {
    beginLiveStatus(*quietLogger());
    for (int i = 0; i < 30; ++i) countScreenSample();
    EXPECT_EQ(readRecordingStatus().screenSamples, 30u);
    // Samples of the current 100 ms bucket join the rate once it is complete.
    std::this_thread::sleep_for(std::chrono::milliseconds(220));
    EXPECT_EQ(readRecordingStatus().screenSamplesLastSecond, 30u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(readRecordingStatus().screenSamplesLastSecond, 0u) << "older than a second";
    endLiveStatus();
}

TEST(RecordingStatus, ReportedFailuresNameTheirTrackOnceWithTheirCode) {
    auto logger = quietLogger();
    beginLiveStatus();
    std::vector<TrackEvent> heard;
    attachTrackEventListener(*logger, [&heard](const TrackEvent& e) { heard.push_back(e); });
    logger->error("mic: a plain line is not a failure");
    reportTrackEvent(*logger, TrackEventKind::warning, "screen", TrackEventCode::other, "screenRecorder: worth knowing");
    reportTrackEvent(*logger, TrackEventKind::failure, "microphone", TrackEventCode::openFailed, "mic: the first word");
    reportTrackEvent(*logger, TrackEventKind::failure, "microphone", TrackEventCode::writeFailed, "mic: a second word");
    reportTrackEvent(*logger, TrackEventKind::failure, "screen", TrackEventCode::other, "screenRecorder: WriteFrame failed",
                     TrackEventLine::info);
    std::vector<std::tuple<std::string, std::string, TrackEventCode>> failures;
    for (const auto& f : readRecordingStatus().failures) failures.emplace_back(f.track, f.message, f.code);
    EXPECT_EQ(failures, (std::vector<std::tuple<std::string, std::string, TrackEventCode>>{
                            {"microphone", "mic: the first word", TrackEventCode::openFailed},
                            {"screen", "screenRecorder: WriteFrame failed", TrackEventCode::other}}));
    ASSERT_EQ(heard.size(), 4u) << "every report reaches the listener, warnings too";
    EXPECT_EQ(heard[2].code, TrackEventCode::writeFailed);
    EXPECT_EQ(heard[2].track, "microphone");
    EXPECT_NEAR(static_cast<double>(heard[3].wallTicks), static_cast<double>(wallClockTicks()), 1e7);
    endLiveStatus();

    beginLiveStatus();
    EXPECT_TRUE(readRecordingStatus().failures.empty()) << "a new recording starts with none";
    endLiveStatus();
}

TEST(RecordingStatus, ADeviceThatComesBackFillsItsGapAndStaysOnTheClock) {
    auto logger = quietLogger();
    beginLiveStatus(*logger);
    int encoder = 0;
    AudioTrackStatus& mic = recordingStatus.microphone;
    mic.source.store(&encoder);
    std::vector<int16_t> block(400, 100);  // 25 ms
    const auto msSince = [](std::chrono::steady_clock::time_point from) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
    };
    // Captured 25 ms ago, by the backend's report: the file's next frame is due now.
    countAudioFrames(&encoder, block.data(), 400, 250000);
    auto due = std::chrono::steady_clock::now();
    const int64_t start = mic.startWallTicks();
    EXPECT_NEAR(static_cast<double>(start), static_cast<double>(wallClockTicks() - 250000), 20000.0);

    // Lost for 300 ms: the first callback of the reopened device (its 25 ms of frames captured
    // up to now) fills the gap before its frames.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mic.gapPending.store(true);
    const double gapMs = msSince(due) - 25;
    AudioFill fill = countAudioFrames(&encoder, block.data(), 400, 250000);
    EXPECT_NEAR(static_cast<double>(fill.before), gapMs * 16, 16 * 5.0) << "the gap up to this callback's first frame";
    EXPECT_EQ(fill.dropped, 0u);
    EXPECT_EQ(mic.lastGapFrames.load(), fill.before);
    EXPECT_EQ(mic.startWallTicks(), start) << "the start stays";

    // A callback whose first frame was captured 20 ms before the file's next frame is due (the
    // fill was 20 ms too long): its first 20 ms are left out.
    const uint64_t held = mic.frames.load();
    const int64_t dueTicks = mic.firstSteadyTicks.load() + static_cast<int64_t>(held) * 10000000 / 16000;
    const int64_t nowTicks = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
                                 std::chrono::steady_clock::now().time_since_epoch()).count();
    fill = countAudioFrames(&encoder, block.data(), 400, nowTicks - dueTicks + 200000);
    EXPECT_NEAR(fill.dropped, 320.0, 16.0);
    EXPECT_EQ(mic.frames.load(), held + 400 - fill.dropped);
    EXPECT_EQ(mic.startWallTicks(), start);
    due = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);  // the 80 frames kept end then

    // Gone again at the end: silence up to now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t lostBefore = mic.filledFrames.load();
    const double toEndMs = msSince(due);
    const uint64_t toEnd = mic.fillUntilNow();
    EXPECT_NEAR(static_cast<double>(toEnd), toEndMs * 16, 16 * 5.0);
    EXPECT_EQ(mic.filledFrames.load(), lostBefore + toEnd);
    endLiveStatus();
}

TEST(RecordingStatus, CallbacksTimedByTheBackendThatLagShowLostFramesAtOnce) {
    auto logger = quietLogger();
    beginLiveStatus(*logger);
    int encoder = 0;
    recordingStatus.systemAudio.source.store(&encoder);
    std::vector<int16_t> block(400, 0);
    // `count` blocks of 25 ms, one every 25 ms, each lagging `lagTicks` behind where the file
    // puts it (frames before it never came); timed ones say their first frame is 25 ms old.
    const auto callbacks = [&](int count, int64_t lagTicks, bool timed) {
        uint64_t filled = 0;
        for (int i = 0; i < count; ++i) {
            const std::optional<int64_t> age = timed ? std::optional<int64_t>(250000 - lagTicks) : std::nullopt;
            filled += countAudioFrames(&encoder, block.data(), 400, age).after;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return filled;
    };
    EXPECT_EQ(callbacks(4, 0, true), 0u) << "on the clock";
    EXPECT_EQ(callbacks(3, 500000, true), 0u) << "three in a row lagging 50 ms are not yet enough";
    EXPECT_NEAR(static_cast<double>(callbacks(1, 500000, true)), 800.0, 16 * 8.0) << "the fourth fills the 50 ms";
    EXPECT_EQ(callbacks(6, 500000, true), 0u) << "back on the clock after the fill";
    // A stalled thread's untimed callbacks look late but are waited out: its burst catches up.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(callbacks(6, 0, false), 0u);
    endLiveStatus();
}

TEST(RecordingStatus, ATrackThatComesBackLeavesTheFailures) {
    auto logger = quietLogger();
    beginLiveStatus();
    std::vector<std::string> kinds;
    attachTrackEventListener(*logger, [&kinds](const TrackEvent& e) { kinds.push_back(trackEventKindName(e.kind)); });
    reportTrackEvent(*logger, TrackEventKind::lost, "microphone", TrackEventCode::deviceLost, "mic: lost");
    reportTrackEvent(*logger, TrackEventKind::lost, "systemAudio", TrackEventCode::deviceLost, "playbackRecorder: lost");
    ASSERT_EQ(readRecordingStatus().failures.size(), 2u);
    reportTrackEvent(*logger, TrackEventKind::back, "microphone", TrackEventCode::deviceBack, "mic: back");
    const RecordingStatusSnapshot s = readRecordingStatus();
    ASSERT_EQ(s.failures.size(), 1u);
    EXPECT_EQ(s.failures[0].track, "systemAudio");
    EXPECT_EQ(kinds, (std::vector<std::string>{"lost", "lost", "back"}));
    endLiveStatus();
}

}  // namespace
