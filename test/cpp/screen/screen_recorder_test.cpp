#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_video_platform.h"
#include "run_flags.h"
#include "screen/screen_recorder.h"
#include "screen_figures.h"

namespace screen_test {
namespace {

constexpr HResult deviceRemoved = static_cast<HResult>(0x887A0005u);

// One scripted recording: fakes for the platform, a logger writing bare messages to a string.
class ScreenRecorderRun : public ::testing::Test {
protected:
    void SetUp() override {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(logText);
        settings.logger = std::make_shared<spdlog::logger>("screen_test", sink);
        settings.logger->set_pattern("%v");
        settings.projectDir = "/nonexistent-project";
        screenRunning.exchange(true);
        screenRecording.exchange(true);
        VIDEO_WIDTH = 0;
        VIDEO_HEIGHT = 0;
        recordingStartTime = 0;
    }

    void run() {
        FakeCapturePlatform capture(captureScript);
        FakeMediaPlatform media(mediaScript);
        ScreenRecorder recorder(capture, media, clock);
        recorder.run(settings);
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(logText.str());
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    // The log from the first line equal to `from` on.
    std::vector<std::string> linesFrom(const std::string& from) const {
        std::vector<std::string> all = lines();
        auto start = std::find(all.begin(), all.end(), from);
        return {start, all.end()};
    }

    int count(const std::string& line) const {
        const std::vector<std::string> all = lines();
        return int(std::count(all.begin(), all.end(), line));
    }

    std::ostringstream logText;
    RecordingSettings settings;
    CaptureScript captureScript;
    MediaScript mediaScript;
    FakeClock clock;
};

TEST_F(ScreenRecorderRun, SetUpLogsAdaptersDeviceAndWriter) {
    FakeAdapterInfo second;
    second.description.description = "Second GPU";
    captureScript.adapters.push_back(second);
    captureScript.acquires = {hresult::ok};
    settings.fps = 25;
    settings.bitrate = 4000000;
    run();
    const std::vector<std::string> expected = {
        "screenRecorder: VIDEO_FPS: 25",
        "screenRecorder: VIDEO_BIT_RATE: 4000000",
        "screenRecorder:Adapter 0: Fake GPU",
        "screenRecorder:  Dedicated Video Memory: 256 MB",
        "screenRecorder:  Dedicated System Memory: 0 MB",
        "screenRecorder:  Shared System Memory: 1024 MB",
        "screenRecorder:  Output 0: \\\\.\\DISPLAY1",
        "screenRecorder:    Desktop Coordinates: (0, 0) - (4, 3)",
        "screenRecorder:    Attached to desktop: Yes",
        "screenRecorder:Adapter 1: Second GPU",
        "screenRecorder:  Dedicated Video Memory: 0 MB",
        "screenRecorder:  Dedicated System Memory: 0 MB",
        "screenRecorder:  Shared System Memory: 0 MB",
        "Selected Adapter: Fake GPU",
        "D3D11 device created successfully. Feature Level: 0xB100",
        "screenRecorder: InitializeSinkWriter success",
        "screenRecorder: Finalize success",
        "screenRecorder: All resources have been released safely.",
    };
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(VIDEO_FPS, 25u);
    EXPECT_EQ(VIDEO_BIT_RATE, 4000000u);
    EXPECT_EQ(VIDEO_WIDTH, 4u);
    EXPECT_EQ(VIDEO_HEIGHT, 3u);
    EXPECT_EQ(mediaScript.outputType.subtype, VideoSubtype::h264);
    EXPECT_EQ(mediaScript.outputType.averageBitrate, 4000000u);
    EXPECT_EQ(mediaScript.outputType.frameRateNumerator, 25u);
    EXPECT_TRUE(mediaScript.outputType.progressive);
    EXPECT_EQ(mediaScript.inputType.subtype, VideoSubtype::rgb32);
    EXPECT_EQ(mediaScript.inputType.width, 4u);
    EXPECT_FALSE(screenRunning.load());
    EXPECT_FALSE(screenRecording.load());
}

TEST_F(ScreenRecorderRun, AdapterChoiceSkipsFailingIndicesAndFallsBackWithoutPreference) {
    captureScript.adapterFailures = {deviceRemoved};
    captureScript.gpuPreference = false;
    captureScript.acquires = {hresult::ok};
    run();
    EXPECT_EQ(count("Falling back to EnumAdapters for adapter enumeration"), 1);
    EXPECT_EQ(count("Selected Adapter: Fake GPU"), 1);
}

TEST_F(ScreenRecorderRun, SampleTimesStartAtZeroAndFollowTheClock) {
    captureScript.acquires = {hresult::ok, hresult::waitTimeout, hresult::ok, hresult::waitTimeout};
    clock.wall = 17000000123456789;
    clock.steps = {0, 200000, 150000, 330000};
    run();
    ASSERT_EQ(mediaScript.samples.size(), 4u);
    EXPECT_EQ(recordingStartTime, 1700000012345);
    const int64_t expectedTimes[] = {0, 200000, 350000, 680000};
    const int64_t expectedDurations[] = {0, 200000, 150000, 330000};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(mediaScript.samples[i].time, expectedTimes[i]) << i;
        EXPECT_EQ(mediaScript.samples[i].duration, expectedDurations[i]) << i;
        EXPECT_EQ(mediaScript.samples[i].bytes().size(), 4u * 4u * 3u);
    }
    // The desktop's first byte numbers its copy; rows arrive bottom-up, so it is in the last row.
    const size_t topRow = 4 * 4 * 2;
    EXPECT_EQ(mediaScript.samples[0].bytes()[topRow], 1);
    EXPECT_EQ(mediaScript.samples[1].bytes()[topRow], 1);  // no change: the image repeats
    EXPECT_EQ(mediaScript.samples[2].bytes()[topRow], 2);
    EXPECT_EQ(mediaScript.samples[3].bytes()[topRow], 2);
    EXPECT_EQ(captureScript.framesHeld, 0);
    EXPECT_EQ(captureScript.maxFramesHeld, 1);
    EXPECT_EQ(captureScript.releaseWithoutFrame, 0);
    EXPECT_EQ(mediaScript.finalizeCalls, 1);
}

TEST_F(ScreenRecorderRun, NothingIsWrittenWhileNotRecording) {
    screenRecording.exchange(false);
    captureScript.acquires = {hresult::ok, hresult::ok, hresult::waitTimeout};
    run();
    EXPECT_TRUE(mediaScript.samples.empty());
    EXPECT_EQ(captureScript.framesHeld, 0);
    EXPECT_EQ(recordingStartTime, 0);
}

TEST_F(ScreenRecorderRun, LostDuplicationIsRecreated) {
    captureScript.acquires = {hresult::ok, hresult::accessLost, hresult::ok};
    captureScript.duplications = {{hresult::ok, {}}, {deviceRemoved, DuplicationStep::duplicateOutput}};
    clock.steps = {0, 2500000, 100};
    run();
    EXPECT_EQ(count("screenRecorder: AcquireNextFrame DXGI_ERROR_ACCESS_LOST"), 1);
    EXPECT_EQ(count("screenRecorder: DuplicateOutput failed"), 1);
    EXPECT_EQ(count("screenRecorder: Operation failed. HRESULT: 0x887A0005, Message: Fake failure text.\r"), 1);
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>{250});
    EXPECT_EQ(captureScript.duplicateCalls, 3);
    ASSERT_EQ(mediaScript.samples.size(), 3u);
    EXPECT_EQ(mediaScript.samples[1].duration, 2500000);  // the pause shows as one long sample
    EXPECT_EQ(mediaScript.samples[1].bytes()[4 * 4 * 2], 1);
    EXPECT_EQ(count("screenRecorder: Finalize success"), 1);
}

TEST_F(ScreenRecorderRun, TenFailedRecoveriesEndTheLoopButKeepTheFile) {
    captureScript.acquires = {hresult::ok, hresult::ok, hresult::accessLost, hresult::ok};
    captureScript.duplications.push_back({hresult::ok, {}});
    for (int i = 0; i < 10; ++i) captureScript.duplications.push_back({hresult::notFound, DuplicationStep::enumOutputs});
    run();
    const std::vector<std::string> tail = linesFrom("screenRecorder: AcquireNextFrame DXGI_ERROR_ACCESS_LOST");
    ASSERT_EQ(tail.size(), 13u);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(tail[i], "screenRecorder: EnumOutputs failed");
    EXPECT_EQ(tail[11], "screenRecorder: 2 samples written before the error were kept");
    EXPECT_EQ(tail[12], "screenRecorder: All resources have been released safely.");
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(10, 250));
    EXPECT_EQ(captureScript.acquireCalls, 3);
    EXPECT_EQ(mediaScript.samples.size(), 2u);
    EXPECT_EQ(mediaScript.finalizeCalls, 1);
    EXPECT_TRUE(mediaScript.shutdownCalled);
    EXPECT_TRUE(mediaScript.uninitialized);
}

TEST_F(ScreenRecorderRun, RecordingEndDuringRecoveryStopsTheAttempts) {
    captureScript.acquires = {hresult::ok, hresult::accessLost, hresult::ok};
    captureScript.duplications.push_back({hresult::ok, {}});
    for (int i = 0; i < 10; ++i) captureScript.duplications.push_back({hresult::notFound, DuplicationStep::enumOutputs});
    captureScript.afterAcquire = [](int number) {
        if (number == 2) screenRunning.exchange(false);
    };
    run();
    EXPECT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(count("screenRecorder: Finalize success"), 1);
}

TEST_F(ScreenRecorderRun, AcquireFailureEndsTheLoopAndKeepsWrittenSamples) {
    captureScript.acquires = {hresult::ok, hresult::ok, deviceRemoved, hresult::ok};
    run();
    EXPECT_EQ(count("screenRecorder: AcquireNextFrame failed"), 1);
    EXPECT_EQ(count("screenRecorder: Finalize success"), 0);
    EXPECT_EQ(mediaScript.samples.size(), 2u);
    EXPECT_EQ(mediaScript.finalizeCalls, 1);
    EXPECT_EQ(captureScript.acquireCalls, 3);
}

TEST_F(ScreenRecorderRun, AcquireFailureBeforeAnySampleLeavesAnEmptyWriter) {
    captureScript.acquires = {deviceRemoved, hresult::ok};
    run();
    EXPECT_EQ(count("screenRecorder: AcquireNextFrame failed"), 1);
    EXPECT_TRUE(mediaScript.samples.empty());
    EXPECT_EQ(mediaScript.finalizeCalls, 1);  // the writer discards its file
    EXPECT_EQ(count("screenRecorder: All resources have been released safely."), 1);
}

TEST_F(ScreenRecorderRun, WriteFailureEndsTheLoop) {
    captureScript.acquires = {hresult::ok, hresult::ok, hresult::ok, hresult::ok};
    mediaScript.failWriteAt = 3;
    run();
    EXPECT_EQ(count("screenRecorder: WriteFrame failed"), 1);
    EXPECT_EQ(count("screenRecorder: 2 samples written before the error were kept"), 1);
    EXPECT_EQ(captureScript.acquireCalls, 3);
    EXPECT_EQ(captureScript.framesHeld, 0);  // the failed pass gave its frame back too
}

TEST_F(ScreenRecorderRun, LoopIsSkippedWhenTheFlagIsAlreadyDown) {
    screenRunning.exchange(false);
    captureScript.acquires = {hresult::ok};
    run();
    EXPECT_EQ(captureScript.acquireCalls, 0);
    EXPECT_EQ(mediaScript.finalizeCalls, 1);
    EXPECT_TRUE(mediaScript.samples.empty());
    EXPECT_EQ(count("screenRecorder: InitializeSinkWriter success"), 1);
}

TEST_F(ScreenRecorderRun, UnusableRatesKeepTheEncoderDefaults) {
    settings.fps = 0;
    settings.bitrate = -5;
    captureScript.acquires = {hresult::ok};
    run();
    EXPECT_EQ(VIDEO_FPS, 30u);
    EXPECT_EQ(VIDEO_BIT_RATE, 18000000u);
    EXPECT_EQ(mediaScript.outputType.frameRateNumerator, 30u);
    EXPECT_EQ(mediaScript.outputType.averageBitrate, 18000000u);
    EXPECT_EQ(count("screenRecorder: fps 0 is not usable, using 30"), 1);
    EXPECT_EQ(count("screenRecorder: bitrate -5 is not usable, using 18000000"), 1);
    EXPECT_EQ(count("screenRecorder: VIDEO_FPS: 30"), 1);
}

TEST_F(ScreenRecorderRun, AreaSetsTheVideoSizeAndAnUnusableOneRecordsTheWholeOutput) {
    captureScript.acquires = {hresult::ok};
    settings.area = {1, 1, 4, 2};  // 3 x 1: too low for the encoder
    run();
    EXPECT_EQ(count("screenRecorder: capture area [1, 1, 4, 2] is not usable, recording the whole output"), 1);
    EXPECT_EQ(VIDEO_WIDTH, 4u);
    EXPECT_EQ(VIDEO_HEIGHT, 3u);

    screenRunning.exchange(true);
    screenRecording.exchange(true);
    captureScript.acquires = {hresult::ok};
    mediaScript.samples.clear();
    settings.area = {1, 0, 4, 3};  // odd width: passed on unchanged
    run();
    EXPECT_EQ(VIDEO_WIDTH, 3u);
    EXPECT_EQ(VIDEO_HEIGHT, 3u);
    EXPECT_EQ(mediaScript.outputType.width, 3u);
    ASSERT_EQ(mediaScript.samples.size(), 1u);
    EXPECT_EQ(mediaScript.samples[0].bytes().size(), 3u * 3u * 4u);
}

TEST_F(ScreenRecorderRun, CaptureFailuresRepeatThePreviousImage) {
    captureScript.acquires = {hresult::ok, hresult::ok};
    captureScript.afterAcquire = [this](int number) { captureScript.map = number == 2 ? hresult::fail : hresult::ok; };
    run();
    ASSERT_EQ(mediaScript.samples.size(), 2u);
    EXPECT_EQ(mediaScript.samples[1].bytes(), mediaScript.samples[0].bytes());
    EXPECT_EQ(captureScript.framesHeld, 0);
}

TEST_F(ScreenRecorderRun, DeviceFailuresEndTheThreadBeforeAnyWriter) {
    struct Case {
        std::function<void(CaptureScript&)> script;
        std::vector<std::string> lastLines;
    };
    const std::vector<Case> cases = {
        {[](CaptureScript& s) { s.createFactory = hresult::fail; },
         {"Failed to create DXGIFactory1. HRESULT: 0x80004005", "screenRecorder: createDevice failed"}},
        {[](CaptureScript& s) { s.adapters.clear(); }, {"No suitable adapter found.", "screenRecorder: createDevice failed"}},
        {[](CaptureScript& s) { s.createDevice = static_cast<HResult>(0x887A0004u); },
         {"Failed to create D3D11 device. HRESULT: 0x887A0004", "screenRecorder: createDevice failed"}},
        {[](CaptureScript& s) { s.duplications = {{hresult::noInterface, DuplicationStep::deviceQuery}}; },
         {"screenRecorder: prepare failed", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.duplications = {{hresult::fail, DuplicationStep::adapterParent}}; },
         {"D3D11 device created successfully. Feature Level: 0xB100", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.duplications = {{hresult::notFound, DuplicationStep::enumOutputs}}; },
         {"screenRecorder: EnumOutputs failed", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.duplications = {{hresult::noInterface, DuplicationStep::output1Query}}; },
         {"screenRecorder: lDxgiOutput1 is null", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.gdiTexture = hresult::outOfMemory; },
         {"screenRecorder: CreateTexture2D failed", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.gdiTextureNull = true; }, {"screenRecorder: lGDIImage is null", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.stagingTexture = hresult::outOfMemory; },
         {"screenRecorder: CreateTexture2D failed", "screenRecorder: prepare failed"}},
        {[](CaptureScript& s) { s.stagingTextureNull = true; }, {"screenRecorder: lDestImage is null", "screenRecorder: prepare failed"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        logText.str("");
        captureScript = CaptureScript{};
        mediaScript = MediaScript{};
        cases[i].script(captureScript);
        run();
        const std::vector<std::string> all = lines();
        ASSERT_GE(all.size(), 2u) << "case " << i;
        EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), cases[i].lastLines) << "case " << i;
        EXPECT_FALSE(mediaScript.writerCreated) << "case " << i;
    }
}

TEST_F(ScreenRecorderRun, MediaFailuresReleaseEverything) {
    mediaScript.startup = hresult::fail;
    run();
    EXPECT_EQ(lines().back(), "screenRecorder: All resources have been released safely.");
    EXPECT_FALSE(mediaScript.writerCreated);
    EXPECT_TRUE(mediaScript.uninitialized);

    logText.str("");
    mediaScript = MediaScript{};
    mediaScript.beginWriting = hresult::fail;
    run();
    EXPECT_EQ(count("screenRecorder: InitializeSinkWriter success"), 0);
    EXPECT_EQ(lines().back(), "screenRecorder: All resources have been released safely.");
    EXPECT_TRUE(mediaScript.writerDestroyed);
    EXPECT_TRUE(mediaScript.shutdownCalled);

    logText.str("");
    mediaScript = MediaScript{};
    mediaScript.initializeThread = hresult::fail;
    run();
    EXPECT_EQ(lines().back(), "D3D11 device created successfully. Feature Level: 0xB100");
}

}  // namespace
}  // namespace screen_test
