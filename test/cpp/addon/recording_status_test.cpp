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
    // Frames that arrive all at once cannot all be real: what the clock keeps is what is counted.
    uint64_t kept = countAudioFrames(&micEncoder, loud.data(), 800).count;
    EXPECT_EQ(readRecordingStatus().microphonePeak, 0.0) << "a block of 1600 frames is not complete yet";
    kept += countAudioFrames(&micEncoder, soft.data(), 800).count;
    EXPECT_DOUBLE_EQ(readRecordingStatus().microphonePeak, 20000.0 / 32768.0);
    kept += countAudioFrames(&micEncoder, soft.data(), 800).count;
    kept += countAudioFrames(&micEncoder, soft.data(), 800).count;
    EXPECT_DOUBLE_EQ(readRecordingStatus().microphonePeak, 100.0 / 32768.0) << "the next block replaces the peak";

    countAudioFrames(&systemEncoder, soft.data(), 300);
    const AudioFill stranger = countAudioFrames(&strangerEncoder, loud.data(), 800);
    EXPECT_EQ(stranger.count, 800u) << "written as they came";
    EXPECT_EQ(stranger.samples, loud.data());
    const RecordingStatusSnapshot s = readRecordingStatus();
    EXPECT_EQ(s.microphoneFrames, kept);
    EXPECT_GE(kept, 800u);
    EXPECT_EQ(s.systemAudioFrames, 300u);
    EXPECT_FALSE(s.microphoneRatePpm.has_value()) << "not measured yet";
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
