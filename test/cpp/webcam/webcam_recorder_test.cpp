#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <tuple>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/captured_log.h"
#include "common/scripted.h"
#include "platform/camera.h"
#include "recording_status.h"
#include "run_flags.h"
#include "webcam/webcam_recorder.h"

namespace webcam_test {
namespace {

using test_support::next;

struct Type {
    MediaGuid subtype;
    uint32_t width, height, rateNumerator, rateDenominator;
};
const Type yuy2Vga{mediaSubtype::yuy2, 640, 480, 30, 1};
const Type mjpgHd{mediaSubtype::mjpg, 1280, 720, 25, 1};
const Type bayerVga{fourCcGuid(fourCc('B', 'A', '8', '1')), 640, 480, 30, 1};

// `fail`: the camera is gone; `busy`: another application streams from it (Media Foundation's
// first read); `changed`: the camera switched formats.
enum class Read { sample, none, fail, busy, changed };

// What the fake layer is told to do, and what it saw.
struct Script {
    bool mediaLibraries = true;
    HResult initializeThread = hresult::ok, startup = hresult::ok;
    std::optional<CameraListStep> listFails;
    int devices = 1;
    HResult friendlyName = hresult::ok, activate = hresult::ok, createReader = hresult::ok;
    std::deque<HResult> activations;  // results of the first activations, then `activate`
    std::vector<Type> types{yuy2Vga, mjpgHd};
    int typeFailsAt = -1;  // index whose nativeMediaType fails
    HResult setCurrent = hresult::ok;
    HResult restore = hresult::ok;
    int activated = 0, restores = 0;
    std::optional<Type> chosen;  // what setCurrentMediaType was given
    bool noFrameSize = false, noFrameRate = false;
    std::optional<WebcamWriterStep> writerFails;
    std::deque<Read> reads;        // the last one lowers webcamRunning
    std::deque<int64_t> readings;  // clock readings, one per delivered sample
    bool sampleTimeFails = false;
    int writeFailsAt = -1;  // 1-based
    HResult finalize = hresult::ok;

    int live = 0;  // platform objects not yet released
    int shutdowns = 0, uninitializations = 0, reads_done = 0, finalizes = 0;
    uint32_t readTimeout = 0;
    std::optional<Type> writerInput;
    std::vector<std::pair<int64_t, int64_t>> written;  // time, duration
};
Script s;

struct Counted {
    Counted() { ++s.live; }
    virtual ~Counted() { --s.live; }
};

struct FakeType : CameraMediaType, Counted {
    explicit FakeType(Type type) : type(type) {}
    HResult subtype(MediaGuid& value) override { return value = type.subtype, hresult::ok; }
    HResult frameSize(uint32_t& width, uint32_t& height) override {
        return width = type.width, height = type.height, s.noFrameSize ? hresult::fail : hresult::ok;
    }
    HResult frameRate(uint32_t& numerator, uint32_t& denominator) override {
        return numerator = type.rateNumerator, denominator = type.rateDenominator, s.noFrameRate ? hresult::fail : hresult::ok;
    }
    Type type;
};

struct FakeSample : VideoSample, Counted {
    int64_t time = -1, duration = -1;
    HResult setSampleTime(int64_t value) override { return time = value, s.sampleTimeFails ? hresult::fail : hresult::ok; }
    HResult setSampleDuration(int64_t value) override { return duration = value, hresult::ok; }
};

struct FakeReader : CameraReader, Counted {
    HResult nativeMediaType(uint32_t index, std::unique_ptr<CameraMediaType>& type) override {
        if (int(index) == s.typeFailsAt) return hresult::fail;
        if (index >= s.types.size()) return hresult::noMoreTypes;
        type = std::make_unique<FakeType>(s.types[index]);
        return hresult::ok;
    }
    HResult setCurrentMediaType(CameraMediaType& type) override {
        s.chosen = static_cast<FakeType&>(type).type;
        return s.setCurrent;
    }
    // As Media Foundation's reader: MJPG comes out decoded to NV12 at the same size and rate.
    HResult deliveredMediaType(std::unique_ptr<CameraMediaType>& type) override {
        Type delivered = *s.chosen;
        if (delivered.subtype == mediaSubtype::mjpg) delivered.subtype = mediaSubtype::nv12;
        type = std::make_unique<FakeType>(delivered);
        return hresult::ok;
    }
    HResult readSample(uint32_t timeoutMillis, std::unique_ptr<VideoSample>& sample) override {
        ++s.reads_done;
        s.readTimeout = timeoutMillis;
        const Read read = next(s.reads, Read::none);
        if (s.reads.empty()) webcamRunning.exchange(false);
        if (read == Read::fail) return hresult::videoDeviceRemoved;
        if (read == Read::busy) return hresult::cameraStreamingFailed;
        if (read == Read::changed) return hresult::formatChanged;
        if (read == Read::sample) sample = std::make_unique<FakeSample>();
        return hresult::ok;
    }
    HResult restoreDeliveredType() override { return ++s.restores, s.restore; }
};

struct FakeWriter : SinkWriter, Counted {
    HResult addStream(const VideoMediaType&, uint32_t&) override { return hresult::notImplemented; }
    HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::notImplemented; }
    HResult beginWriting() override { return hresult::notImplemented; }
    HResult writeSample(uint32_t streamIndex, std::unique_ptr<VideoSample> sample) override {
        EXPECT_EQ(streamIndex, 7u);
        s.written.emplace_back(static_cast<FakeSample&>(*sample).time, static_cast<FakeSample&>(*sample).duration);
        return int(s.written.size()) == s.writeFailsAt ? hresult::fail : hresult::ok;
    }
    HResult finalize() override { return ++s.finalizes, s.finalize; }
};

struct FakeSource : CameraSource, Counted {};

struct FakeDevice : CameraDevice, Counted {
    HResult friendlyName(std::string& name) override { return name = "Cam", s.friendlyName; }
    HResult activate(std::unique_ptr<CameraSource>& source) override {
        ++s.activated;
        const HResult result = next(s.activations, s.activate);
        // A camera that never comes back: the recording ends meanwhile.
        if (s.activated > 50) webcamRunning.exchange(false);
        if (succeeded(result)) source = std::make_unique<FakeSource>();
        return result;
    }
};

struct FakePlatform : CameraPlatform {
    bool librariesAvailable(std::string& reason) override { return reason = "Fake media is not available", s.mediaLibraries; }
    HResult initializeThread() override { return s.initializeThread; }
    void uninitializeThread() override { ++s.uninitializations; }
    HResult startup() override { return s.startup; }
    HResult shutdown() override { return ++s.shutdowns, hresult::ok; }
    HResult listDevices(std::vector<std::unique_ptr<CameraDevice>>& devices, CameraListStep& failedStep) override {
        if (s.listFails) return failedStep = *s.listFails, hresult::fail;
        for (int i = 0; i < s.devices; ++i) devices.push_back(std::make_unique<FakeDevice>());
        return hresult::ok;
    }
    HResult createReader(CameraSource&, std::unique_ptr<CameraReader>& reader) override {
        if (succeeded(s.createReader)) reader = std::make_unique<FakeReader>();
        return s.createReader;
    }
    bool canRecord(CameraMediaType& type) override { return static_cast<FakeType&>(type).type.subtype != bayerVga.subtype; }
    std::string errorText(HResult result) override {
        char text[32];
        std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(result));
        return text;
    }
    HResult createWriter(const std::filesystem::path& file, CameraMediaType& type, std::unique_ptr<SinkWriter>& writer,
                         uint32_t& streamIndex, WebcamWriterStep& failedStep) override {
        EXPECT_EQ(file, std::filesystem::path("/project") / "webcam.mp4");
        s.writerInput = static_cast<FakeType&>(type).type;
        if (s.writerFails) return failedStep = *s.writerFails, hresult::fail;
        streamIndex = 7;
        writer = std::make_unique<FakeWriter>();
        return hresult::ok;
    }
};

// Runs the recorder on the script and returns its log.
test_support::CapturedLog run(int32_t webcamIndex = 0, bool running = true, WebcamFormat format = {}) {
    test_support::CapturedLog log;
    RecordingSettings settings;
    settings.projectDir = "/project";
    settings.webcamIndex = webcamIndex;
    settings.webcamFormat = format;
    settings.logger = log.logger;
    webcamRunning.exchange(running);
    FakePlatform platform;
    WebcamRecorder(platform, [] { return next(s.readings, int64_t{0}); }, std::chrono::milliseconds(1)).run(settings);
    return log;
}

class WebcamRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { s = Script{}; }
    void TearDown() override { EXPECT_EQ(s.live, 0) << "every platform object is released"; }
};

TEST_F(WebcamRecorderTest, RecordsTheFirstNativeTypeWithArrivalTimes) {
    s.reads = {Read::sample, Read::none, Read::sample, Read::sample};
    s.readings = {5000000, 5400000, 6500000};
    const std::vector<std::string> lines = run().messages();
    const std::vector<std::string> expected = {
        "Native Media Type 0:",
        "  Subtype: {32595559-0000-0010-8000-00AA00389B71}",
        "  Resolution: 640x480",
        "  Frame Rate: 30/1 fps",
        "Native Media Type 1:",
        "  Subtype: {47504A4D-0000-0010-8000-00AA00389B71}",
        "  Resolution: 1280x720",
        "  Frame Rate: 25/1 fps",
        "WebcamRecorder:Using YUY2 format.",
        "WebcamRecorder:webcamFormat first chose native type 0: YUY2 640x480 at 30 fps",
        "WebcamRecorder:Using native format: 640x480 @30 fps\n",
        "WebcamRecorder:Recording...\n",
        "WebcamRecorder:Finalising the capture.\n",
    };
    EXPECT_EQ(lines, expected);
    // The first sample is at 0 with no duration; an empty read reads no clock.
    const std::vector<std::pair<int64_t, int64_t>> times = {{0, 0}, {400000, 400000}, {1500000, 1100000}};
    EXPECT_EQ(s.written, times);
    EXPECT_EQ(s.finalizes, 1);
    EXPECT_LE(s.readTimeout, 1000u) << "a read never holds end() for long";
    EXPECT_EQ(s.shutdowns, 1);
    EXPECT_EQ(s.uninitializations, 1);
}

TEST_F(WebcamRecorderTest, AnMjpgOnlyCameraIsRecordedFromWhatTheReaderDecodes) {
    s.types = {mjpgHd};
    s.reads = {Read::sample};
    const test_support::CapturedLog log = run();
    for (const char* format : {"RGB24", "YUY2", "NV12"}) EXPECT_EQ(log.count(std::string("WebcamRecorder:Using ") + format + " format."), 0);
    ASSERT_TRUE(s.chosen && s.writerInput);
    EXPECT_EQ(s.chosen->subtype, mediaSubtype::mjpg) << "the camera runs in its MJPG type";
    EXPECT_EQ(s.writerInput->subtype, mediaSubtype::nv12) << "the writer gets the decoded frames";
    EXPECT_EQ(std::make_pair(s.writerInput->width, s.writerInput->height), std::make_pair(1280u, 720u));
    EXPECT_EQ(s.written.size(), 1u);
}

TEST_F(WebcamRecorderTest, TheFormatRuleChoosesTheTypeAndSaysSo) {
    const Type yuy2Hd{mediaSubtype::yuy2, 1280, 720, 10, 1};
    const Type mjpgFullHd{mediaSubtype::mjpg, 1920, 1080, 30, 1};
    const Type mjpg4k{mediaSubtype::mjpg, 3840, 2160, 30, 1};
    struct Case {
        std::vector<Type> types;
        WebcamFormat format;
        Type expected;
        const char* line;
    };
    const Case cases[] = {
        // A first type the writer cannot take: the first one it can.
        {{bayerVga, yuy2Hd, mjpgHd}, {}, yuy2Hd, "webcamFormat first chose native type 1: YUY2 1280x720 at 10 fps (native type 0 cannot be recorded)"},
        {{mjpg4k, yuy2Hd, mjpgFullHd, yuy2Vga}, {WebcamFormat::Rule::best, 0, 0, 0}, mjpgFullHd,
         "webcamFormat best chose native type 2: MJPG 1920x1080 at 30 fps"},
        {{mjpg4k, yuy2Hd, mjpgHd, yuy2Vga}, {WebcamFormat::Rule::nearest, 1280, 720, 10}, yuy2Hd,
         "webcamFormat 1280x720 at 10 fps chose native type 1: YUY2 1280x720 at 10 fps"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        s = Script{};
        s.types = c.types;
        s.reads = {Read::sample};
        const test_support::CapturedLog log = run(0, true, c.format);
        EXPECT_EQ(log.count(std::string("WebcamRecorder:") + c.line), 1);
        ASSERT_TRUE(s.chosen);
        EXPECT_EQ(std::make_tuple(s.chosen->subtype, s.chosen->width, s.chosen->height, s.chosen->rateNumerator),
                  std::make_tuple(c.expected.subtype, c.expected.width, c.expected.height, c.expected.rateNumerator));
        EXPECT_EQ(s.written.size(), 1u);
    }
}

TEST_F(WebcamRecorderTest, EachSetUpFailureLogsItsLineAndReleasesEverything) {
    struct Case {
        const char* line;
        void (*arrange)();
        int32_t index;
    };
    const Case cases[] = {
        {"WebcamRecorder:Fake media is not available; no webcam video is recorded", [] { s.mediaLibraries = false; }, 0},
        {"WebcamRecorder:COM initialisation failed.", [] { s.initializeThread = hresult::fail; }, 0},
        {"WebcamRecorder:Media Foundation initialisation failed.", [] { s.startup = hresult::fail; }, 0},
        {"WebcamRecorder:Error creating video configuration.", [] { s.listFails = CameraListStep::createAttributes; }, 0},
        {"WebcamRecorder:Error initialising video configuration object.", [] { s.listFails = CameraListStep::setSourceType; }, 0},
        {"WebcamRecorder:Error enumerating video devices.", [] { s.listFails = CameraListStep::enumerate; }, 0},
        {"WebcamRecorder:No video device at index 1 (1 found).", [] {}, 1},
        {"WebcamRecorder:No video device at index -2 (1 found).", [] {}, -2},
        {"WebcamRecorder:No video device at index 0 (0 found).", [] { s.devices = 0; }, 0},
        {"WebcamRecorder:Error retrieving video device friendly name.", [] { s.friendlyName = hresult::fail; }, 0},
        {"WebcamRecorder:Error activating video device.", [] { s.activate = hresult::fail; }, 0},
        {"WebcamRecorder:Error creating video source reader.", [] { s.createReader = hresult::fail; }, 0},
        {"WebcamRecorder:Failed to get native media type.", [] { s.typeFailsAt = 0; }, 0},
        {"WebcamRecorder:Failed to set media type on source reader.", [] { s.setCurrent = hresult::fail; }, 0},
        {"WebcamRecorder:Failed to get frame size.", [] { s.noFrameSize = true; }, 0},
        {"WebcamRecorder:Failed to get frame rate.", [] { s.noFrameRate = true; }, 0},
        // The camera writer's steps.
        {"WebcamRecorder:Failed to create attributes.", [] { s.writerFails = WebcamWriterStep::createAttributes; }, 0},
        {"WebcamRecorder:Failed to enable hardware transforms.", [] { s.writerFails = WebcamWriterStep::enableHardwareTransforms; }, 0},
        {"WebcamRecorder:Failed to enable low latency mode.", [] { s.writerFails = WebcamWriterStep::enableLowLatency; }, 0},
        {"WebcamRecorder:Error creating mp4 sink writer.", [] { s.writerFails = WebcamWriterStep::createSinkWriter; }, 0},
        {"WebcamRecorder:Error registering colour converter DSP.", [] { s.writerFails = WebcamWriterStep::registerColourConverter; }, 0},
        {"WebcamRecorder:Configure encoder failed to create media type for video output sink.",
         [] { s.writerFails = WebcamWriterStep::createOutputType; }, 0},
        {"WebcamRecorder:Error copying media type attributes from native type.", [] { s.writerFails = WebcamWriterStep::copyNativeType; }, 0},
        {"WebcamRecorder:Failed to set video writer attribute, video format (H.264).",
         [] { s.writerFails = WebcamWriterStep::setH264Subtype; }, 0},
        {"WebcamRecorder:Error setting average bit rate.", [] { s.writerFails = WebcamWriterStep::setBitrate; }, 0},
        {"WebcamRecorder:Error setting interlace mode.", [] { s.writerFails = WebcamWriterStep::setInterlaceMode; }, 0},
        {"WebcamRecorder:Failed to set profile on H264 MFT out type.", [] { s.writerFails = WebcamWriterStep::setProfile; }, 0},
        {"WebcamRecorder:Failed to add the video stream to the sink writer.", [] { s.writerFails = WebcamWriterStep::addStream; }, 0},
        {"WebcamRecorder:Error setting the sink writer video input type.", [] { s.writerFails = WebcamWriterStep::setInputType; }, 0},
        {"WebcamRecorder:Failed to begin writing on the H.264 sink.", [] { s.writerFails = WebcamWriterStep::beginWriting; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        s = Script{};
        c.arrange();
        EXPECT_EQ(run(c.index).errors(), std::vector<std::string>{c.line});
        EXPECT_EQ(s.live, 0);
        EXPECT_EQ(s.reads_done, 0);
        EXPECT_EQ(s.finalizes, 0);
        // Media Foundation and COM are shut down exactly when their start-up succeeded.
        const bool comStarted = s.mediaLibraries && succeeded(s.initializeThread);
        EXPECT_EQ(s.shutdowns, comStarted && succeeded(s.startup) ? 1 : 0);
        EXPECT_EQ(s.uninitializations, comStarted ? 1 : 0);
    }
}

TEST_F(WebcamRecorderTest, AFailedListingEntryEndsTheListingOnly) {
    s.types = {yuy2Vga, mjpgHd, yuy2Vga};
    s.typeFailsAt = 1;
    s.reads = {Read::sample};
    const test_support::CapturedLog log = run();
    EXPECT_EQ(log.errors(), std::vector<std::string>{"WebcamRecorder:Failed to get native media type at index 1."});
    EXPECT_EQ(log.count("Native Media Type 0:"), 1);
    EXPECT_EQ(log.count("Native Media Type 2:"), 0);
    EXPECT_EQ(s.written.size(), 1u);
    EXPECT_EQ(s.finalizes, 1);
}

TEST_F(WebcamRecorderTest, ALoopErrorKeepsWhatWasWritten) {
    struct Case {
        const char* line;
        void (*arrange)();
        size_t written;
        int finalizes;
    };
    const Case cases[] = {
        {"WebcamRecorder:Set video sample time failed.", [] { s.reads = {Read::sample}, s.sampleTimeFails = true; }, 0, 0},
        {"WebcamRecorder:Write video sample failed.",
         [] { s.reads = {Read::sample, Read::sample, Read::sample, Read::sample}, s.writeFailsAt = 3; }, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        s = Script{};
        c.arrange();
        const test_support::CapturedLog log = run();
        EXPECT_EQ(log.errors(), std::vector<std::string>{c.line});
        EXPECT_EQ(s.written.size(), c.written);
        EXPECT_EQ(s.finalizes, c.finalizes);
        EXPECT_EQ(log.count("WebcamRecorder:Finalising the capture.\n"), 0);
        EXPECT_EQ(s.live, 0);
    }
}

TEST_F(WebcamRecorderTest, ACameraThatGoesAwayComesBackInTheSameFileAfterALoggedGap) {
    const size_t gapsBefore = readTrackRecord("webcam").gaps.size();
    s.reads = {Read::sample, Read::sample, Read::fail, Read::sample, Read::sample};
    s.readings = {0, 400000, 5000000 /* the loss */, 35000000, 35400000};
    s.activations = {hresult::ok, hresult::videoDeviceRemoved, hresult::videoDeviceRemoved};  // away for two tries
    const test_support::CapturedLog log = run();
    EXPECT_EQ(log.errors(), std::vector<std::string>{
        "WebcamRecorder:Error reading video sample. \"Cam\" is gone: unplugged or its driver stopped (HRESULT 0xC00D3EA2); "
        "trying again about once a second"});
    EXPECT_EQ(log.count("WebcamRecorder:\"Cam\" is back after 3.00 s; webcam.mp4 has no frames from 0.04 s to 3.50 s"), 1);
    const std::vector<std::pair<int64_t, int64_t>> times = {{0, 0}, {400000, 400000}, {35000000, 34600000}, {35400000, 400000}};
    EXPECT_EQ(s.written, times) << "one file, on the clock";
    EXPECT_EQ(s.finalizes, 1);
    EXPECT_EQ(s.activated, 4);
    const std::vector<std::pair<int64_t, int64_t>> gaps = readTrackRecord("webcam").gaps;
    ASSERT_EQ(gaps.size(), gapsBefore + 1);
    EXPECT_EQ(gaps.back(), std::make_pair(int64_t{400000}, int64_t{35000000}));
}

TEST_F(WebcamRecorderTest, BusyAndBlockedCamerasSayWhyAndAreRecordedOnceFree) {
    struct Case {
        const char* line;
        void (*arrange)();
        const char* code;
    };
    const Case cases[] = {
        // Media Foundation: the set-up succeeds, the first read finds the camera streaming elsewhere.
        {"WebcamRecorder:Error reading video sample. \"Cam\" is busy: another application is using it (HRESULT 0xC00D3704); "
         "trying again about once a second",
         [] { s.reads = {Read::busy, Read::busy, Read::sample, Read::sample}; }, "busy"},
        // The privacy setting: activation is refused until the user allows it.
        {"WebcamRecorder:\"Cam\" is blocked: camera access is off in the privacy settings or not allowed to this process "
         "(HRESULT 0x80070005); trying again about once a second",
         [] { s.activations = {hresult::accessDenied, hresult::accessDenied}, s.reads = {Read::sample, Read::sample}; }, "privacy"},
        // V4L2: setting the format fails with EBUSY while another process streams.
        {"WebcamRecorder:\"Cam\" is busy: another application is using it (HRESULT 0x800700AA); trying again about once a second",
         [] { s.setCurrent = hresult::deviceBusy, s.reads = {Read::sample}; }, "never free"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        s = Script{};
        c.arrange();
        const test_support::CapturedLog log = run();
        const std::vector<std::string> errors = log.errors();
        ASSERT_GE(errors.size(), 1u);
        EXPECT_EQ(errors[0], c.line);
        EXPECT_EQ(s.live, 0);
        if (std::string(c.code) == "never free") {
            EXPECT_EQ(errors.size(), 2u);
            EXPECT_EQ(log.count("WebcamRecorder:\"Cam\" did not become available; no webcam.mp4 was recorded"), 1);
            EXPECT_TRUE(s.written.empty());
            EXPECT_FALSE(s.writerInput) << "no writer, no file";
        } else {
            EXPECT_EQ(errors.size(), 1u);
            EXPECT_EQ(s.written.size(), 2u);
            EXPECT_EQ(s.finalizes, 1);
        }
    }
}

TEST_F(WebcamRecorderTest, ATypeChangeMidStreamIsConvertedBackOrReopens) {
    s.reads = {Read::sample, Read::changed, Read::sample};
    test_support::CapturedLog log = run();
    EXPECT_EQ(log.count("WebcamRecorder:the camera changed its format mid-stream; its frames are converted back to the recorded one"), 1);
    EXPECT_EQ(s.restores, 1);
    EXPECT_EQ(s.written.size(), 2u);
    EXPECT_TRUE(log.errors().empty());

    s = Script{};
    s.reads = {Read::sample, Read::changed, Read::sample};
    s.restore = hresult::fail;
    log = run();
    EXPECT_EQ(s.activated, 2) << "opened again in the recorded type";
    EXPECT_EQ(s.written.size(), 2u);
    EXPECT_EQ(s.finalizes, 1);
}

TEST_F(WebcamRecorderTest, AStalledCameraIsReadWithATimeoutUntilTheFlagFalls) {
    s.reads = std::deque<Read>(20, Read::none);
    EXPECT_EQ(run().errors(), std::vector<std::string>{});
    EXPECT_EQ(s.reads_done, 20);
    EXPECT_TRUE(s.written.empty());
    EXPECT_LE(s.readTimeout, 1000u);
    EXPECT_EQ(s.finalizes, 1);
}

TEST_F(WebcamRecorderTest, EndDuringSetUpFinalisesWithoutReading) {
    s.finalize = hresult::noSamplesProcessed;
    const std::vector<std::string> lines = run(0, false).messages();  // webcamRunning is down at the loop's first test
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"WebcamRecorder:Recording...\n", "WebcamRecorder:Finalising the capture.\n",
                                              "WebcamRecorder:Error finalising H.264 sink writer."}));
    EXPECT_EQ(s.reads_done, 0);
    EXPECT_EQ(s.finalizes, 1);
}

TEST_F(WebcamRecorderTest, ListCamerasNamesTheDevicesInOrder) {
    s.devices = 2;
    FakePlatform platform;
    CameraList list = listCameras(platform);
    EXPECT_TRUE(list.ok);
    EXPECT_EQ(list.names, (std::vector<std::string>{"Cam", "Cam"}));
    EXPECT_EQ(s.live, 0);
    s.listFails = CameraListStep::enumerate;
    list = listCameras(platform);
    EXPECT_FALSE(list.ok);
    EXPECT_EQ(s.shutdowns, 2);
}

TEST(MediaSubtype, GuidTextAndWriterSubtypes) {
    EXPECT_EQ(guidText(mediaSubtype::rgb24), "{00000014-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidText(mediaSubtype::nv12), "{3231564E-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(writerSubtypeFor(mediaSubtype::mjpg), VideoSubtype::mjpg);
    EXPECT_EQ(writerSubtypeFor(fourCcGuid(fourCc('B', 'A', '8', '1'))), std::nullopt);  // Bayer
    EXPECT_EQ(writerSubtypeFor(fourCcGuid(fourCc('P', '0', '1', '0'))), std::nullopt);  // 10-bit
}

}  // namespace
}  // namespace webcam_test
