#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/captured_log.h"
#include "common/scripted.h"
#include "fake_screen_platform.h"
#include "pointer_shape_feed.h"
#include "run_flags.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"
#include "screen_figures.h"

namespace screen_test {
namespace {

using test_support::next;

using Sample = fake_screen::Sample;

// What the fake platform layers are told to do, and what they saw. The desktop is 4x3; the first
// byte of each desktop copy is the copy's number.
struct Script {
    bool mediaLibraries = true;
    HResult createFactory = hresult::ok;
    int adapters = 1;
    HResult createDevice = hresult::ok;
    std::deque<std::pair<HResult, DuplicationStep>> duplications;  // successive duplicateOutput0 results, then success
    HResult textureResults[2] = {hresult::ok, hresult::ok};        // by TextureKind
    std::deque<HResult> stagingTextures;  // successive results for the copy texture, then textureResults[1]
    bool textureNull[2] = {false, false};
    std::deque<HResult> acquires;  // successive acquire results; the last one lowers screenRunning
    int failWriteAt = -1;          // 1-based sample number whose write fails
    std::deque<int64_t> shapeTimes;  // per acquired frame: the time of its new pointer shape, 0 for none
    int shapeAsks = 0, shapeAsksUnheld = 0;

    int factoryCalls = 0;
    int liveDuplications = 0;  // as on Windows, an output duplicated twice at once is refused
    int duplicateCalls = 0, acquireCalls = 0, framesHeld = 0, copies = 0, finalizeCalls = 0;
    bool writerCreated = false;
    VideoMediaType outputType;
    std::vector<Sample> samples;
};

Script s;  // the running test's

// A texture, and the desktop frame that hands one out.
struct Texture : VideoTexture, DesktopResource {
    std::vector<uint8_t> pixels;
    std::unique_ptr<VideoTexture> queryTexture() override { return std::make_unique<Texture>(); }
};

struct Duplication : DesktopDuplication {
    Duplication() { ++s.liveDuplications; }
    ~Duplication() override { --s.liveDuplications; }
    DuplicationMode mode() override { return {4, 3, pixelFormatB8G8R8A8}; }
    HResult acquireNextFrame(uint32_t, std::unique_ptr<DesktopResource>& resource) override {
        ++s.acquireCalls;
        const HResult result = next(s.acquires, hresult::waitTimeout);
        if (s.acquires.empty()) screenRunning.exchange(false);
        if (result == hresult::ok) resource = std::make_unique<Texture>(), ++s.framesHeld, shapeTime = next(s.shapeTimes, int64_t{0});
        return result;
    }
    HResult releaseFrame() override { return --s.framesHeld < 0 ? hresult::fail : hresult::ok; }
    bool newPointerShape(PointerShape& shape) override {
        ++s.shapeAsks;
        if (s.framesHeld <= 0) ++s.shapeAsksUnheld;
        shape.time = shapeTime;
        return shapeTime != 0;
    }
    int64_t shapeTime = 0;
};

struct Device : VideoDevice {
    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        ++s.duplicateCalls;
        const auto [result, step] = next(s.duplications, {hresult::ok, DuplicationStep::duplicateOutput});
        failedStep = step;
        if (failed(result)) return result;
        if (s.liveDuplications > 0) return failedStep = DuplicationStep::duplicateOutput, hresult::invalidArgument;
        duplication = std::make_unique<Duplication>();
        return hresult::ok;
    }
    HResult createTexture(TextureKind kind, const DuplicationMode&, std::unique_ptr<VideoTexture>& texture) override {
        const int k = kind == TextureKind::gdiRenderTarget ? 0 : 1;
        const HResult result = k == 1 ? next(s.stagingTextures, s.textureResults[1]) : s.textureResults[0];
        if (!failed(result) && !s.textureNull[k]) texture = std::make_unique<Texture>();
        return result;
    }
};

struct Context : VideoContext {
    void copyResource(VideoTexture& destination, VideoTexture&) override {
        auto& pixels = static_cast<Texture&>(destination).pixels;
        pixels.assign(4 * 4 * 3, 0);
        pixels[0] = uint8_t(++s.copies);
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        image.data = static_cast<Texture&>(texture).pixels.data(), image.rowPitch = 16;
        return hresult::ok;
    }
    void unmap(VideoTexture&) override {}
};

struct Writer : fake_screen::Writer {
    Writer() { s.writerCreated = true; }
    HResult addStream(const VideoMediaType& type, uint32_t& index) override { return s.outputType = type, index = 0, hresult::ok; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        if (int(s.samples.size()) + 1 == s.failWriteAt) return hresult::fail;
        const Sample& given = static_cast<Sample&>(*sample);
        EXPECT_EQ(given.length, given.image->size());
        return s.samples.push_back(given), hresult::ok;
    }
    HResult finalize() override { return ++s.finalizeCalls, s.samples.empty() ? hresult::noSamplesProcessed : hresult::ok; }
};

using FakePlatform = fake_screen::Platform<Device, Context, Writer>;
struct Platform : FakePlatform {
    Platform() : FakePlatform(4, 3, s.adapters) {}
    bool librariesAvailable(std::string& reason) override { return reason = "Fake media is not available", s.mediaLibraries; }
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override {
        ++s.factoryCalls;
        return failed(s.createFactory) ? s.createFactory : FakePlatform::createFactory(factory);
    }
    HResult createDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                         uint32_t& featureLevel) override {
        return failed(s.createDevice) ? s.createDevice : FakePlatform::createDevice(adapter, device, context, featureLevel);
    }
};

// The monotonic clock advances by the given steps, one per reading.
struct Clock : ScreenClock {
    int64_t wall = 17000000123456789, steady = 5000;
    std::deque<int64_t> steps;
    std::vector<uint32_t> sleeps;
    int64_t wallTicks() override { return wall; }
    int64_t steadyTicks() override { return steady += next(steps, int64_t{0}); }
    void sleepMillis(uint32_t millis) override { sleeps.push_back(millis); }
};

// The desktop copy's number sits in its top row, which is the last row of a bottom-up image.
int copyShown(const Sample& sample) { return (*sample.image)[4 * 4 * 2]; }

class ScreenRecorderRun : public ::testing::Test {
protected:
    void SetUp() override { reset(); }

    void reset() {
        s = Script{};
        clock = Clock{};
        log = test_support::CapturedLog{};
        settings = RecordingSettings{};
        settings.logger = log.logger;
        settings.projectDir = "/nonexistent-project";
        screenRunning.exchange(true);
        screenRecording.exchange(true);
        recordingStartTime = 0;
    }

    void run() {
        Platform platform;
        ScreenRecorder(platform, platform, clock).run(settings);
    }
    std::vector<std::string> lines() const { return log.messages(); }
    int count(const std::string& line) const { return log.count(line); }

    test_support::CapturedLog log;
    RecordingSettings settings;
    Clock clock;
};

TEST_F(ScreenRecorderRun, SampleTimesFollowTheClockAndAnUnchangedDesktopRepeatsTheImage) {
    s.acquires = {hresult::ok, hresult::waitTimeout, hresult::ok, hresult::waitTimeout};
    clock.steps = {0, 200000, 150000, 330000};
    settings.fps = 25;
    settings.bitrate = 4000000;
    run();
    EXPECT_EQ(s.outputType.frameRateNumerator, 25u);
    EXPECT_EQ(s.outputType.averageBitrate, 4000000u);
    EXPECT_EQ(s.outputType.width, 4u);
    EXPECT_EQ(recordingStartTime, 1700000012345);
    // Time, duration and desktop copy of each sample.
    std::vector<std::tuple<int64_t, int64_t, int>> written;
    for (const Sample& sample : s.samples) written.emplace_back(sample.time, sample.duration, copyShown(sample));
    EXPECT_EQ(written, (std::vector<std::tuple<int64_t, int64_t, int>>{{0, 0, 1}, {200000, 200000, 1}, {350000, 150000, 2}, {680000, 330000, 2}}));
    EXPECT_EQ(s.framesHeld, 0);
    EXPECT_EQ(s.finalizeCalls, 1);
    EXPECT_EQ(count("screenRecorder: Finalize success"), 1);
}

// Lost duplications and outages: capture_outage_test.cpp.

TEST_F(ScreenRecorderRun, AcquireAndWriteFailuresCompleteTheFileWithTheSamplesSoFar) {
    struct Case {
        std::deque<HResult> acquires;
        int failWriteAt;  // 1-based sample number
        const char* line;
        size_t samples;
    } const cases[] = {
        {{hresult::ok, hresult::ok, hresult::fail, hresult::ok}, -1, "screenRecorder: AcquireNextFrame failed", 2},
        {{hresult::ok, hresult::ok, hresult::ok, hresult::ok}, 3, "screenRecorder: WriteFrame failed", 2},
        {{hresult::fail, hresult::ok}, -1, "screenRecorder: AcquireNextFrame failed", 0},
    };
    for (const Case& c : cases) {
        reset();
        s.acquires = c.acquires;
        s.failWriteAt = c.failWriteAt;
        run();
        EXPECT_EQ(count(c.line), 1) << c.line;
        EXPECT_EQ(s.samples.size(), c.samples) << c.line;
        EXPECT_EQ(count("screenRecorder: 2 samples written before the error were kept"), c.samples ? 1 : 0) << c.line;
        EXPECT_EQ(count("screenRecorder: Finalize success"), 0) << c.line;
        EXPECT_EQ(s.finalizeCalls, 1) << c.line;  // with no sample the writer discards its file
        EXPECT_EQ(s.acquireCalls, int(c.samples) + 1) << c.line;
        EXPECT_EQ(s.framesHeld, 0) << c.line;  // a failed pass gives its frame back too
        EXPECT_EQ(lines().back(), "screenRecorder: All resources have been released safely.") << c.line;
    }
}

// meta.json reads these figures: each run reports only what it reached itself.
TEST_F(ScreenRecorderRun, TheFiguresDescribeOnlyThisRunsScreenTrack) {
    using Figures = std::tuple<uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t, int64_t>;
    const auto figures = [] {
        return Figures{VIDEO_WIDTH, VIDEO_HEIGHT, recordedArea.left, recordedArea.top, recordedArea.right, recordedArea.bottom,
                       recordingStartTime};
    };
    const int64_t started = 1700000012345;  // the fake wall clock, in ms
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Figures expected;
    } const cases[] = {
        {"a good run with an area", [this] { settings.area = {1, 0, 3, 2}; }, {2, 2, 1, 0, 3, 2, started}},
        {"no device", [] { s.createDevice = hresult::fail; }, {0, 0, 0, 0, 0, 0, 0}},
        {"a refused area records the whole output", [this] { settings.area = {1, 1, 2, 2}; }, {4, 3, 0, 0, 0, 0, started}},
        {"no sample written", [] { s.failWriteAt = 1; }, {4, 3, 0, 0, 0, 0, 0}},
        {"an area not in force", [this] { settings.area = {1, 1, 0, 2}; }, {4, 3, 0, 0, 0, 0, started}},
    };
    for (const Case& c : cases) {
        reset();
        // What an earlier recording of the process left.
        std::tie(VIDEO_WIDTH, VIDEO_HEIGHT, recordedArea, recordingStartTime) =
            std::tuple(uint32_t{1920}, uint32_t{1080}, CaptureArea{5, 6, 7, 8}, int64_t{42});
        s.acquires = {hresult::ok, hresult::ok};
        c.arrange();
        run();
        EXPECT_EQ(figures(), c.expected) << c.what;
    }
}

// The cursor images take an animated cursor's frames from the duplication's pointer shapes.
TEST_F(ScreenRecorderRun, NewPointerShapesAreHandedOnWhileTheirFrameIsHeld) {
    s.acquires = {hresult::ok, hresult::ok, hresult::waitTimeout, hresult::ok, hresult::ok};
    s.shapeTimes = {5, 0, 7};
    settings.pointerShapes = std::make_shared<PointerShapeFeed>();
    run();
    std::vector<int64_t> handed;
    for (const PointerShape& shape : settings.pointerShapes->take()) handed.push_back(shape.time);
    EXPECT_EQ(handed, (std::vector<int64_t>{5, 7}));
    EXPECT_EQ(s.shapeAsks, 4);
    EXPECT_EQ(s.shapeAsksUnheld, 0);

    // A recording that keeps no cursor images never asks.
    reset();
    s.acquires = {hresult::ok, hresult::ok};
    s.shapeTimes = {5, 6};
    run();
    EXPECT_EQ(s.shapeAsks, 0);
}

TEST_F(ScreenRecorderRun, LoopIsSkippedWhenTheFlagIsAlreadyDown) {
    screenRunning.exchange(false);
    s.acquires = {hresult::ok};
    run();
    EXPECT_EQ(s.acquireCalls, 0);
    EXPECT_EQ(s.finalizeCalls, 1);
    EXPECT_TRUE(s.samples.empty());
    EXPECT_EQ(count("screenRecorder: InitializeSinkWriter success"), 1);
}

TEST_F(ScreenRecorderRun, SetUpFailuresEndTheThreadBeforeAnyWriter) {
    using Step = DuplicationStep;
    const auto duplication = [](HResult result, Step step) { return [=] { s.duplications = {{result, step}}; }; };
    // Each set-up failure and the last lines it leaves.
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> cases = {
        {[] { s.mediaLibraries = false; }, {"screenRecorder: Fake media is not available; no screen video is recorded"}},
        {[] { s.createFactory = hresult::fail; },
         {"Failed to create DXGIFactory1. HRESULT: 0x80004005", "screenRecorder: createDevice failed"}},
        {[] { s.adapters = 0; }, {"No suitable adapter found.", "screenRecorder: createDevice failed"}},
        {[] { s.createDevice = static_cast<HResult>(0x887A0004u); },
         {"Failed to create D3D11 device. HRESULT: 0x887A0004", "screenRecorder: createDevice failed"}},
        {duplication(hresult::noInterface, Step::deviceQuery), {"screenRecorder: prepare failed", "screenRecorder: prepare failed"}},
        {duplication(hresult::fail, Step::adapterParent),
         {"D3D11 device created successfully. Feature Level: 0xB100", "screenRecorder: prepare failed"}},
        {duplication(hresult::notFound, Step::enumOutputs), {"screenRecorder: EnumOutputs failed", "screenRecorder: prepare failed"}},
        {duplication(hresult::noInterface, Step::output1Query), {"screenRecorder: lDxgiOutput1 is null", "screenRecorder: prepare failed"}},
        {[] { s.textureResults[1] = hresult::outOfMemory; }, {"screenRecorder: CreateTexture2D failed", "screenRecorder: prepare failed"}},
        {[] { s.textureNull[1] = true; }, {"screenRecorder: lDestImage is null", "screenRecorder: prepare failed"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        reset();
        cases[i].first();
        run();
        const std::vector<std::string> all = lines(), & tail = cases[i].second;
        ASSERT_GE(all.size(), tail.size()) << "case " << i;
        EXPECT_EQ(std::vector<std::string>(all.end() - tail.size(), all.end()), tail) << "case " << i;
        EXPECT_FALSE(s.writerCreated) << "case " << i;
        EXPECT_EQ(s.factoryCalls == 0, !s.mediaLibraries) << "case " << i;  // nothing is set up without the libraries
    }
}

}  // namespace
}  // namespace screen_test
