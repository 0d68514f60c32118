// The changes-only loop against a scripted desktop that behaves as desktop duplication does on
// Windows: an acquire waits up to its timeout for a frame, and a frame may carry only the pointer
// (no changed rectangle). Runs as a Windows program under Wine too.
#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <deque>
#include <optional>
#include <vector>

#include "platform/video_capture.h"
#include "platform/video_writer.h"
#include "run_flags.h"
#include "screen/frame_image.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"

namespace changes_test {
namespace {

constexpr uint32_t width = 16, height = 8;
constexpr int64_t msTicks = 10000;

enum class Kind { still, paint, pointerOnly, unknown, lost };
struct Step {
    Kind kind = Kind::still;
    std::vector<ImageRect> paint;  // painted before the frame (several: changes that came within one pass)
    int64_t lateTicks = 0;         // the change comes this long into the wait
};

struct World {
    std::vector<uint8_t> screen = std::vector<uint8_t>(width * height * 4, 0x10);
    std::deque<Step> steps;
    int64_t steady = 5000;
    uint8_t colour = 0x20;
    int acquires = 0;
    std::vector<uint32_t> timeouts;
    std::vector<int64_t> acquiredAt;  // clock when each frame was handed out
    struct Written {
        int64_t time, duration;
        std::vector<uint8_t> image;
        int acquiresBefore;
    };
    std::vector<Written> written;
    std::optional<int64_t> endedAt;
    bool writerKnowsEnd = true;
    int recordingPass = 0;  // screenRecording rises during this acquire (0: up from the start)
};
World w;

void paint(const ImageRect& r) {
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) w.screen[(y * width + x) * 4] = w.colour;
    }
    ++w.colour;
}

struct Texture : VideoTexture, DesktopResource {
    std::vector<uint8_t> pixels;
    std::unique_ptr<VideoTexture> queryTexture() override {
        auto texture = std::make_unique<Texture>();
        texture->pixels = w.screen;
        return texture;
    }
};

struct Duplication : DesktopDuplication {
    bool first = true;
    Kind last = Kind::paint;
    std::vector<ImageRect> lastRects;
    DuplicationMode mode() override { return {width, height, pixelFormatB8G8R8A8}; }
    HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) override {
        ++w.acquires;
        if (w.recordingPass > 0 && w.acquires == w.recordingPass) screenRecording.exchange(true);
        w.timeouts.push_back(timeoutMillis);
        if (w.steps.empty()) {
            screenRunning.exchange(false);
            w.steady += int64_t(timeoutMillis) * msTicks;
            return hresult::waitTimeout;
        }
        const Step step = w.steps.front();
        if (step.kind == Kind::lost) {
            w.steps.pop_front();
            return hresult::accessLost;
        }
        if (!first && step.kind == Kind::still) {
            w.steps.pop_front();
            w.steady += int64_t(timeoutMillis) * msTicks;
            return hresult::waitTimeout;
        }
        // A change later than the wait is for a later acquire.
        if (!first && step.lateTicks > int64_t(timeoutMillis) * msTicks) {
            w.steps.front().lateTicks -= int64_t(timeoutMillis) * msTicks;
            w.steady += int64_t(timeoutMillis) * msTicks;
            return hresult::waitTimeout;
        }
        w.steps.pop_front();
        w.steady += step.lateTicks;
        for (const ImageRect& r : step.paint) paint(r);
        last = first ? Kind::unknown : step.kind;
        lastRects = step.paint;
        first = false;
        w.acquiredAt.push_back(w.steady);
        resource = std::make_unique<Texture>();
        return hresult::ok;
    }
    HResult releaseFrame() override { return hresult::ok; }
    bool changedRects(std::vector<ImageRect>& rects) override {
        rects.clear();
        if (last == Kind::unknown) return false;
        if (last == Kind::paint) rects = lastRects;
        return true;  // a pointer-only frame: nothing of the image changed
    }
};

struct Device : VideoDevice {
    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep&) override {
        duplication = std::make_unique<Duplication>();
        return hresult::ok;
    }
    HResult createTexture(TextureKind, const DuplicationMode&, std::unique_ptr<VideoTexture>& texture) override {
        texture = std::make_unique<Texture>();
        return hresult::ok;
    }
};

struct Context : VideoContext {
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        static_cast<Texture&>(destination).pixels = static_cast<Texture&>(source).pixels;
    }
    void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& rect) override {
        auto& to = static_cast<Texture&>(destination).pixels;
        const auto& from = static_cast<Texture&>(source).pixels;
        for (int y = rect.top; y < rect.bottom; ++y) {
            std::copy_n(from.begin() + (y * width + rect.left) * 4, (rect.right - rect.left) * 4, to.begin() + (y * width + rect.left) * 4);
        }
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        image.data = static_cast<Texture&>(texture).pixels.data();
        image.rowPitch = width * 4;
        return hresult::ok;
    }
    void unmap(VideoTexture&) override {}
};

struct Adapter : VideoAdapter {
    HResult describe(AdapterDescription&) override { return hresult::ok; }
    HResult describeOutput(uint32_t index, OutputDescription&) override { return index == 0 ? hresult::ok : hresult::notFound; }
};

struct Factory : VideoFactory {
    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        if (index > 0) return hresult::notFound;
        adapter = std::make_unique<Adapter>();
        return hresult::ok;
    }
    bool supportsGpuPreference() override { return false; }
    HResult enumAdapterByHighPerformance(uint32_t, std::unique_ptr<VideoAdapter>&) override { return hresult::notImplemented; }
};

struct Sample : VideoSample {
    SampleImage image;
    size_t length = 0;
    int64_t time = 0, duration = 0;
    HResult setSampleTime(int64_t value) override { return time = value, hresult::ok; }
    HResult setSampleDuration(int64_t value) override { return duration = value, hresult::ok; }
};

struct Writer : SinkWriter {
    HResult addStream(const VideoMediaType&, uint32_t& index) override { return index = 0, hresult::ok; }
    HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::ok; }
    HResult beginWriting() override { return hresult::ok; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        auto& given = static_cast<Sample&>(*sample);
        w.written.push_back({given.time, given.duration, std::vector<uint8_t>(given.image->begin(), given.image->begin() + long(given.length)),
                             w.acquires});
        return hresult::ok;
    }
    HResult endStreamAt(uint32_t, int64_t time) override {
        if (!w.writerKnowsEnd) return hresult::notImplemented;
        w.endedAt = time;
        return hresult::ok;
    }
    HResult finalize() override { return hresult::ok; }
};

struct Platform : VideoCapturePlatform, MediaPlatform {
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override {
        factory = std::make_unique<Factory>();
        return hresult::ok;
    }
    HResult createDevice(VideoAdapter&, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context, uint32_t&) override {
        device = std::make_unique<Device>();
        context = std::make_unique<Context>();
        return hresult::ok;
    }
    std::string messageText(HResult) override { return {}; }
    HResult initializeThread() override { return hresult::ok; }
    void uninitializeThread() override {}
    HResult startup() override { return hresult::ok; }
    HResult shutdown() override { return hresult::ok; }
    HResult createSinkWriter(const std::filesystem::path&, const SinkWriterAttributes&, std::unique_ptr<SinkWriter>& writer) override {
        writer = std::make_unique<Writer>();
        return hresult::ok;
    }
    HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) override {
        auto created = std::make_unique<Sample>();
        created->image = image;
        created->length = length;
        sample = std::move(created);
        return hresult::ok;
    }
};

struct Clock : ScreenClock {
    int64_t wallTicks() override { return 17000000000000000; }
    int64_t steadyTicks() override { return w.steady; }
    void sleepMillis(uint32_t millis) override { w.steady += int64_t(millis) * msTicks; }
};

std::vector<uint8_t> asVideo(const std::vector<uint8_t>& screen) {
    std::vector<uint8_t> video;
    storeFrameImage(video, screen.data(), width * 4, width, height, std::nullopt);
    return video;
}

// Runs the recorder over the script at 20 fps (a 50 ms wait).
void record(std::deque<Step> steps, CaptureArea area = {}) {
    w.steps = std::move(steps);
    screenRunning.exchange(true);
    screenRecording.exchange(w.recordingPass == 0);
    RecordingSettings settings;
    settings.logger = std::make_shared<spdlog::logger>("changes_test", std::make_shared<spdlog::sinks::null_sink_mt>());
    settings.fps = 20;
    settings.changesOnly = true;
    settings.area = area;
    Platform platform;
    Clock clock;
    ScreenRecorder(platform, platform, clock).run(settings);
}

Step still() { return {Kind::still, {}, 0}; }
Step change(ImageRect r, int64_t lateMs = 10) { return {Kind::paint, {r}, lateMs * msTicks}; }
Step pointer(int64_t lateMs = 5) { return {Kind::pointerOnly, {}, lateMs * msTicks}; }

TEST(ChangesOnly, AStillDesktopGivesOneSampleThatLastsToTheEndAndWaitsAFrameIntervalAtATime) {
    w = World{};
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 200; ++i) steps.push_back(still());  // 10 s
    record(steps);
    ASSERT_EQ(w.written.size(), 1u);
    EXPECT_EQ(w.written[0].time, 0);
    EXPECT_EQ(w.written[0].acquiresBefore, 1) << "the first sample is written at once";
    ASSERT_TRUE(w.endedAt.has_value());
    EXPECT_EQ(*w.endedAt, w.steady - w.acquiredAt[0]) << "the picture lasts until the end";
    for (size_t i = 1; i < w.timeouts.size(); ++i) EXPECT_EQ(w.timeouts[i], 50u) << "each wait is one frame interval, no spinning";
}

TEST(ChangesOnly, PointerOnlyFramesAndChangesOutsideTheAreaAreNoChange) {
    w = World{};
    record({change({0, 0, 16, 8}, 0), pointer(), still(), pointer(), change({12, 6, 16, 8}), pointer(), change({2, 2, 5, 4}, 20),
            pointer(), still()},
           CaptureArea{0, 0, 10, 5});
    // The first frame, and the one change inside the 10x5 area.
    ASSERT_EQ(w.written.size(), 2u);
    EXPECT_EQ(w.written[1].time, w.acquiredAt[5] - w.acquiredAt[0]) << "timed when the change was captured";
    EXPECT_EQ(w.written[1].duration, w.written[1].time);
    EXPECT_EQ(w.written[1].acquiresBefore, 7) << "written in the pass that captured it";
}

TEST(ChangesOnly, EveryChangeGetsItsOwnSampleAtOnceHoldingThePictureOfItsMoment) {
    w = World{};
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 100; ++i) steps.push_back(still());  // 5 s still
    steps.push_back(change({1, 1, 4, 3}, 30));             // a change after a long still
    steps.push_back(change({6, 0, 9, 2}, 1));
    // Two changes that came within one pass: merged into one sample holding both.
    steps.push_back({Kind::paint, {{10, 4, 12, 6}, {0, 6, 3, 8}}, 2 * msTicks});
    steps.push_back({Kind::unknown, {{3, 3, 5, 5}}, 70 * msTicks});  // the duplication cannot say what changed
    steps.push_back(still());
    steps.push_back(change({5, 5, 7, 7}, 49));
    std::vector<std::vector<uint8_t>> truths;
    {
        // Replay the script's paints to know each frame's desktop.
        std::vector<uint8_t> screen = w.screen;
        uint8_t colour = w.colour;
        for (const Step& s : steps) {
            if (s.kind == Kind::still) continue;
            for (const ImageRect& r : s.paint) {
                for (int y = r.top; y < r.bottom; ++y) {
                    for (int x = r.left; x < r.right; ++x) screen[(y * width + x) * 4] = colour;
                }
                ++colour;
            }
            truths.push_back(screen);
        }
    }
    record(steps);
    ASSERT_EQ(w.written.size(), 6u);
    ASSERT_EQ(w.acquiredAt.size(), 6u);
    for (size_t n = 0; n < w.written.size(); ++n) {
        EXPECT_EQ(w.written[n].time, w.acquiredAt[n] - w.acquiredAt[0]) << "sample " << n;
        EXPECT_EQ(w.written[n].image, asVideo(truths[n])) << "sample " << n << " shows another moment";
        if (n > 0) {
            EXPECT_EQ(w.written[n].duration, w.written[n].time - w.written[n - 1].time);
        }
    }
    EXPECT_GT(w.written[1].time, 5 * 10000000) << "the change after the still";
    EXPECT_EQ(*w.endedAt, w.steady - w.acquiredAt[0]);
}

TEST(ChangesOnly, AWriterThatCannotBeToldTheEndGetsThePictureOnceMoreAtTheEnd) {
    w = World{};
    w.writerKnowsEnd = false;
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 20; ++i) steps.push_back(still());
    record(steps);
    ASSERT_EQ(w.written.size(), 2u);
    EXPECT_EQ(w.written[1].time, w.steady - w.acquiredAt[0]);
    EXPECT_EQ(w.written[1].image, w.written[0].image);
}

TEST(ChangesOnly, RecordingThatStartsLaterWritesTheLatestPictureAtOnceAndALostDuplicationIsNoChange) {
    w = World{};
    w.recordingPass = 3;
    record({change({0, 0, 16, 8}, 0), change({1, 1, 3, 3}), still(), still(), {Kind::lost, {}, 0}, still(), still(),
            change({4, 4, 6, 6})});
    ASSERT_EQ(w.written.size(), 3u);
    EXPECT_EQ(w.written[0].acquiresBefore, 4) << "no wait for a change when recording begins";
    EXPECT_EQ(w.timeouts[3], 0u);
    // The new duplication's first frame is copied whole, so it may differ anywhere: it is written.
    EXPECT_EQ(w.written[1].image, w.written[0].image);
    EXPECT_EQ(w.written[2].image, asVideo(w.screen));
}

}  // namespace
}  // namespace changes_test
