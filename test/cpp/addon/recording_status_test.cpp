// The live status: audio routed to its track by encoder, the peak of each 100 ms block, the
// screen rate over the last second, and failure lines picked out of the recording log.
#include <gtest/gtest.h>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "addon/live_status.h"
#include "recording_status.h"
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

TEST(RecordingStatus, FailureLinesNameTheirTrackOnce) {
    auto logger = quietLogger();
    beginLiveStatus(*logger);
    logger->info("screenRecorder: VIDEO_FPS: 30");
    logger->info("mic: something worth knowing");
    logger->error("mic: Failed to initialize capture device.");
    logger->error("mic: a second line of the same failure");
    logger->info("screenRecorder: WriteFrame failed");  // the screen loop's failures are info lines
    logger->error("somebody else: not a track");
    std::vector<std::pair<std::string, std::string>> failures;
    for (const auto& f : readRecordingStatus().failures) failures.emplace_back(f.track, f.message);
    EXPECT_EQ(failures, (std::vector<std::pair<std::string, std::string>>{
                            {"microphone", "mic: Failed to initialize capture device."}, {"screen", "screenRecorder: WriteFrame failed"}}));
    endLiveStatus();

    beginLiveStatus(*quietLogger());
    EXPECT_TRUE(readRecordingStatus().failures.empty()) << "a new recording starts with none";
    endLiveStatus();
}

TEST(RecordingStatus, ATrackThatComesBackLeavesTheFailures) {
    auto logger = quietLogger();
    beginLiveStatus(*logger);
    logger->error("mic: lost \"VirtualMic\" 1.00 s into mivox.wav; reopening it about once a second");
    logger->error("playbackRecorder: lost \"Monitor of Speaker\" 1.00 s into output.wav; reopening it about once a second");
    ASSERT_EQ(readRecordingStatus().failures.size(), 2u);
    clearTrackFailure("microphone");
    const RecordingStatusSnapshot s = readRecordingStatus();
    ASSERT_EQ(s.failures.size(), 1u);
    EXPECT_EQ(s.failures[0].track, "systemAudio");
    endLiveStatus();
}

}  // namespace
