#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

#include "platform/video_capture.h"
#include "platform/video_writer.h"
#include "run_flags.h"
#include "screen/frame_image.h"
#include "screen/image_changes.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"

namespace damage_test {
namespace {

bool operator==(const ImageRect& a, const ImageRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(ImageChanges, ClipsToTheImageMergesManyPartsAndTakesLargeOnesAsTheWhole) {
    ImageChanges changes(100, 80);
    EXPECT_TRUE(changes.whole());
    changes.clear();
    EXPECT_TRUE(changes.none());
    changes.add({-5, -5, 10, 10});
    changes.add({120, 0, 130, 10});  // outside
    changes.add({20, 20, 20, 30});   // empty
    ASSERT_EQ(changes.rects().size(), 1u);
    EXPECT_TRUE(changes.rects()[0] == (ImageRect{0, 0, 10, 10}));

    for (int i = 1; i <= int(ImageChanges::maxRects); ++i) changes.add({i * 2, 40, i * 2 + 1, 41});
    ASSERT_EQ(changes.rects().size(), 1u) << "past the limit the parts become their bounding box";
    EXPECT_TRUE(changes.rects()[0] == (ImageRect{0, 0, 33, 41}));
    EXPECT_FALSE(changes.whole());

    changes.clear();
    changes.add({0, 0, 100, 39});
    EXPECT_FALSE(changes.whole());
    changes.add({0, 39, 100, 41});
    EXPECT_TRUE(changes.whole()) << "half the image or more is the whole";
    changes.add({0, 0, 1, 1});
    EXPECT_TRUE(changes.whole() && changes.rects().empty());
}

// A desktop of 9x7 pixels with padded rows; every byte distinct enough to show a misplaced copy.
std::vector<uint8_t> desktop(uint8_t seed) {
    std::vector<uint8_t> pixels(7 * 40);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(seed + i * 7);
    return pixels;
}

TEST(FrameRegion, StoringTheChangedPartEqualsStoringTheWholeImageForAnyArea) {
    const std::optional<CaptureArea> areas[] = {std::nullopt, CaptureArea{2, 1, 7, 5}, CaptureArea{-2, -1, 6, 4},
                                                CaptureArea{5, 3, 12, 9}};
    const ImageRect changed{3, 2, 7, 6};
    for (const auto& area : areas) {
        const std::vector<uint8_t> before = desktop(1);
        std::vector<uint8_t> after = before;
        for (int y = changed.top; y < changed.bottom; ++y) {
            for (int x = changed.left * 4; x < changed.right * 4; ++x) after[y * 40 + x] ^= 0xFF;
        }
        std::vector<uint8_t> image;
        ASSERT_TRUE(storeFrameImage(image, before.data(), 40, 9, 7, area));
        const std::vector<uint8_t> old = image;
        storeFrameRegion(image, after.data(), 40, 9, 7, area, changed);
        std::vector<uint8_t> expected;
        ASSERT_TRUE(storeFrameImage(expected, after.data(), 40, 9, 7, area));
        EXPECT_EQ(image, expected);

        // Outside the video rectangle of the change, the video is as it was.
        const VideoSize size = videoSizeFor(area, 9, 7);
        const ImageRect inVideo = videoRectFor(changed, area, size);
        for (uint32_t y = 0; y < size.height; ++y) {
            for (uint32_t x = 0; x < size.width; ++x) {
                const bool inside = int(x) >= inVideo.left && int(x) < inVideo.right && int(y) >= inVideo.top && int(y) < inVideo.bottom;
                const size_t at = ((size.height - 1 - y) * size.width + x) * 4;
                if (!inside) {
                    EXPECT_EQ(image[at], old[at]) << x << "," << y;
                }
            }
        }
    }
}

// The constant-rate loop against a scripted 16x8 desktop whose frames say what changed. The writer
// holds the two latest samples, as the real one's queue does, so the recorder has to bring older
// buffers up to date from what they missed.
constexpr uint32_t width = 16, height = 8;

struct Step {
    std::optional<ImageRect> paint;  // a frame that changed this rectangle; none: nothing changed
    int64_t lateTicks = 0;           // the acquire takes this long
    bool lost = false;               // the duplication is lost
};

struct World {
    std::vector<uint8_t> screen = std::vector<uint8_t>(width * height * 4, 0x10);
    std::deque<Step> steps;
    int64_t steady = 1000;
    uint8_t paint = 0x20;
    std::vector<std::vector<uint8_t>> truth;  // the desktop at each acquired frame
    std::vector<std::vector<uint8_t>> written;  // sample images as the writer read them
    std::vector<std::optional<std::vector<ImageRect>>> changed;
    std::vector<int64_t> times;
    std::deque<std::pair<SampleImage, size_t>> held;
    int wholeCopies = 0, partCopies = 0, duplications = 0;
};
World w;

struct Texture : VideoTexture, DesktopResource {
    std::vector<uint8_t> pixels;
    std::unique_ptr<VideoTexture> queryTexture() override {
        auto texture = std::make_unique<Texture>();
        texture->pixels = w.screen;
        return texture;
    }
};

struct Duplication : DesktopDuplication {
    std::optional<ImageRect> last;
    bool first = w.duplications++ == 0;  // a later one claims to know its first frame's changes
    DuplicationMode mode() override { return {width, height, pixelFormatB8G8R8A8}; }
    HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) override {
        if (w.steps.empty()) {
            screenRunning.exchange(false);
            return hresult::waitTimeout;
        }
        const Step step = w.steps.front();
        w.steps.pop_front();
        w.steady += step.lateTicks;
        if (step.lost) return hresult::accessLost;
        if (!step.paint && !first) {
            w.steady += int64_t(timeoutMillis) * 10000;
            return hresult::waitTimeout;
        }
        if (step.paint) {
            const ImageRect r = *step.paint;
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x) w.screen[(y * width + x) * 4] = w.paint;
            }
            ++w.paint;
        }
        last = first ? std::nullopt : step.paint;
        first = false;
        w.truth.push_back(w.screen);
        resource = std::make_unique<Texture>();
        return hresult::ok;
    }
    HResult releaseFrame() override { return hresult::ok; }
    bool changedRects(std::vector<ImageRect>& rects) override {
        rects.clear();
        if (last) rects.push_back(*last);
        return last.has_value();
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

// Copies exactly what it is asked to, so a part the recorder forgot stays stale.
struct Context : VideoContext {
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        ++w.wholeCopies;
        static_cast<Texture&>(destination).pixels = static_cast<Texture&>(source).pixels;
    }
    void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& rect) override {
        ++w.partCopies;
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
    int64_t time = 0;
    std::optional<std::vector<ImageRect>> changed;
    HResult setSampleTime(int64_t value) override { return time = value, hresult::ok; }
    HResult setSampleDuration(int64_t) override { return hresult::ok; }
    void setChangedRects(std::vector<ImageRect> rects) override { changed = std::move(rects); }
};

struct Writer : SinkWriter {
    HResult addStream(const VideoMediaType&, uint32_t& index) override { return index = 0, hresult::ok; }
    HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::ok; }
    HResult beginWriting() override { return hresult::ok; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        auto& given = static_cast<Sample&>(*sample);
        w.times.push_back(given.time);
        w.changed.push_back(given.changed);
        w.held.emplace_back(given.image, given.length);
        if (w.held.size() > 2) readOldest();
        return hresult::ok;
    }
    HResult finalize() override {
        while (!w.held.empty()) readOldest();
        return hresult::ok;
    }
    // The encoder reads a sample's image when it gets to it.
    static void readOldest() {
        w.written.emplace_back(w.held.front().first->begin(), w.held.front().first->begin() + long(w.held.front().second));
        w.held.pop_front();
    }
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
    void sleepMillis(uint32_t millis) override { w.steady += int64_t(millis) * 10000; }
};

// The desktop (top row first) as the bottom-up video image holds it.
std::vector<uint8_t> asVideo(const std::vector<uint8_t>& screen) {
    std::vector<uint8_t> video;
    storeFrameImage(video, screen.data(), width * 4, width, height, std::nullopt);
    return video;
}

TEST(ConstantRateDamage, EverySampleIsTheWholeLatestDesktopAndSaysWhereItDiffersFromTheOneBefore) {
    w = World{};
    w.steps = {{{}},
               {ImageRect{1, 1, 4, 3}},
               {},
               {ImageRect{10, 5, 16, 8}},
               {ImageRect{0, 0, 2, 2}, 2500000},  // a late pass: the slots it missed repeat its image
               {ImageRect{3, 2, 6, 4}},
               {ImageRect{12, 0, 16, 3}},
               {},
               {ImageRect{1, 1, 4, 3}},
               {{}, 0, true},
               {ImageRect{6, 0, 8, 2}},  // the new staging image holds nothing: this frame is copied whole
               {ImageRect{5, 5, 9, 8}}};
    screenRunning.exchange(true);
    screenRecording.exchange(true);
    RecordingSettings settings;
    settings.logger = std::make_shared<spdlog::logger>("damage_test", std::make_shared<spdlog::sinks::null_sink_mt>());
    settings.fps = 10;
    settings.constantFrameRate = true;
    Platform platform;
    Clock clock;
    ScreenRecorder(platform, platform, clock).run(settings);

    ASSERT_EQ(w.written.size(), w.times.size());
    ASSERT_GE(w.written.size(), 12u);
    for (size_t n = 0; n < w.times.size(); ++n) EXPECT_EQ(w.times[n], int64_t(n) * 1000000) << "sample " << n << " off the grid";
    EXPECT_EQ(w.wholeCopies, 2) << "after the first frame only the changed parts are copied, until the duplication is new";
    EXPECT_EQ(w.partCopies, 7);

    // Each sample shows one of the acquired desktops, in order, ending with the last.
    size_t shown = 0;
    for (size_t n = 0; n < w.written.size(); ++n) {
        while (shown < w.truth.size() && w.written[n] != asVideo(w.truth[shown])) ++shown;
        ASSERT_LT(shown, w.truth.size()) << "sample " << n << " is no desktop that was acquired, or an older one";
    }
    EXPECT_EQ(shown, w.truth.size() - 1);

    // Where two samples differ, the later one said so.
    EXPECT_FALSE(w.changed[0].has_value()) << "the first sample is new everywhere";
    EXPECT_EQ(std::count(w.changed.begin(), w.changed.end(), std::nullopt), 2) << "and so is the first after a whole copy";
    for (size_t n = 1; n < w.written.size(); ++n) {
        if (!w.changed[n]) continue;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const size_t at = ((height - 1 - y) * width + x) * 4;
                if (w.written[n][at] == w.written[n - 1][at]) continue;
                bool said = false;
                for (const ImageRect& r : *w.changed[n]) said = said || (int(x) >= r.left && int(x) < r.right && int(y) >= r.top && int(y) < r.bottom);
                EXPECT_TRUE(said) << "sample " << n << " changed at " << x << "," << y << " without saying so";
            }
        }
    }
}

}  // namespace
}  // namespace damage_test
