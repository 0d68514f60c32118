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

}  // namespace
