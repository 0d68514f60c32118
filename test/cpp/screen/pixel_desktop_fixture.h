#pragma once
// A scripted 16x8 desktop that behaves as desktop duplication does on Windows: an acquire waits up
// to its timeout for a frame, and a frame says which rectangles changed, or only the pointer, or
// that it cannot tell. The context copies exactly what it is asked to, so a part the recorder
// forgot stays stale; the writer may hold samples before it reads their images, as an encoder's
// queue does. Virtual time throughout; runs as a Windows program under Wine too.
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

#include "fake_screen_platform.h"
#include "run_flags.h"
#include "screen/frame_image.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"

namespace pixel_desktop {

constexpr uint32_t width = 16, height = 8;
constexpr int64_t msTicks = 10000;

enum class Kind { still, paint, pointerOnly, unknown, lost };
struct Step {
    Kind kind = Kind::still;
    std::vector<ImageRect> paint;  // painted before the frame (several: changes that came within one pass)
    int64_t lateTicks = 0;         // the change comes this long into the wait
    bool blocks = false;           // the acquire itself takes lateTicks, past its timeout
};

inline Step still() { return {}; }
inline Step change(ImageRect r, int64_t lateMs = 10) { return {Kind::paint, {r}, lateMs * msTicks}; }
inline Step pointer(int64_t lateMs = 5) { return {Kind::pointerOnly, {}, lateMs * msTicks}; }
inline Step lost() { return {Kind::lost}; }

struct World {
    std::vector<uint8_t> screen = std::vector<uint8_t>(width * height * 4, 0x10);
    std::deque<Step> steps;
    int64_t steady = 5000;
    uint8_t colour = 0x20;
    int acquires = 0, duplications = 0, wholeCopies = 0, partCopies = 0;
    std::vector<uint32_t> timeouts;
    struct Acquired {
        int64_t at;
        std::vector<uint8_t> screen;
    };
    std::vector<Acquired> acquired;  // each frame handed out: when, and the desktop then
    struct Written {
        int64_t time, duration;
        std::optional<std::vector<ImageRect>> changed;
        int acquiresBefore;
        std::vector<uint8_t> image;  // as the writer read it
    };
    std::vector<Written> written;
    std::deque<fake_screen::Sample> held;
    std::optional<int64_t> endedAt;
    bool writerKnowsEnd = true;
    size_t writerHolds = 0;                    // samples the writer keeps before reading the oldest
    bool laterDuplicationsKnowFirstFrame = false;  // else a new duplication's first frame is all new
    int recordingPass = 0;  // screenRecording rises during this acquire (0: up from the start)
};
inline World w;

struct Texture : VideoTexture, DesktopResource {
    std::vector<uint8_t> pixels;
    std::unique_ptr<VideoTexture> queryTexture() override {
        auto texture = std::make_unique<Texture>();
        texture->pixels = w.screen;
        return texture;
    }
};

struct Duplication : DesktopDuplication {
    bool first = w.duplications++ == 0 || !w.laterDuplicationsKnowFirstFrame;
    Kind last = Kind::paint;
    std::vector<ImageRect> lastRects;
    DuplicationMode mode() override { return {width, height, pixelFormatB8G8R8A8}; }
    HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) override {
        const int64_t timeout = int64_t(timeoutMillis) * msTicks;
        ++w.acquires;
        if (w.recordingPass > 0 && w.acquires == w.recordingPass) screenRecording.exchange(true);
        w.timeouts.push_back(timeoutMillis);
        if (w.steps.empty()) {
            screenRunning.exchange(false);
            w.steady += timeout;
            return hresult::waitTimeout;
        }
        Step& step = w.steps.front();
        if (step.kind == Kind::lost) {
            w.steps.pop_front();
            return hresult::accessLost;
        }
        if (!first && step.kind == Kind::still) {
            w.steps.pop_front();
            w.steady += timeout;
            return hresult::waitTimeout;
        }
        // A change later than the wait is for a later acquire.
        if (!first && !step.blocks && step.lateTicks > timeout) {
            step.lateTicks -= timeout;
            w.steady += timeout;
            return hresult::waitTimeout;
        }
        w.steady += step.lateTicks;
        for (const ImageRect& r : step.paint) {
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x) w.screen[(y * width + x) * 4] = w.colour;
            }
            ++w.colour;
        }
        last = first ? Kind::unknown : step.kind;
        lastRects = step.paint;
        first = false;
        w.steps.pop_front();
        w.acquired.push_back({w.steady, w.screen});
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
        return duplication = std::make_unique<Duplication>(), hresult::ok;
    }
    HResult createTexture(TextureKind, const DuplicationMode&, std::unique_ptr<VideoTexture>& texture) override {
        return texture = std::make_unique<Texture>(), hresult::ok;
    }
};

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

struct Writer : fake_screen::Writer {
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        const auto& given = static_cast<fake_screen::Sample&>(*sample);
        w.written.push_back({given.time, given.duration, given.changed, w.acquires, {}});
        w.held.push_back(given);
        while (w.held.size() > w.writerHolds) readOldest();
        return hresult::ok;
    }
    HResult endStreamAt(uint32_t, int64_t time) override {
        if (!w.writerKnowsEnd) return hresult::notImplemented;
        return w.endedAt = time, hresult::ok;
    }
    HResult finalize() override {
        while (!w.held.empty()) readOldest();
        return hresult::ok;
    }
    // The encoder reads a sample's image when it gets to it.
    static void readOldest() {
        const fake_screen::Sample& oldest = w.held.front();
        w.written[w.written.size() - w.held.size()].image.assign(oldest.image->begin(), oldest.image->begin() + oldest.length);
        w.held.pop_front();
    }
};

struct Clock : ScreenClock {
    int64_t wallTicks() override { return 17000000000000000; }
    int64_t steadyTicks() override { return w.steady; }
    void sleepMillis(uint32_t millis) override { w.steady += int64_t(millis) * msTicks; }
};

// The desktop (top row first) as the bottom-up video image holds it.
inline std::vector<uint8_t> asVideo(const std::vector<uint8_t>& screen) {
    std::vector<uint8_t> video;
    storeFrameImage(video, screen.data(), width * 4, width, height, std::nullopt);
    return video;
}

inline RecordingSettings settingsAt(uint32_t fps) {
    RecordingSettings settings;
    settings.logger = std::make_shared<spdlog::logger>("pixel_desktop", std::make_shared<spdlog::sinks::null_sink_mt>());
    settings.fps = fps;
    return settings;
}

// Runs the recorder over the script; w holds what it did.
inline void record(std::deque<Step> steps, const RecordingSettings& settings) {
    w.steps = std::move(steps);
    screenRunning.exchange(true);
    screenRecording.exchange(w.recordingPass == 0);
    fake_screen::Platform<Device, Context, Writer> platform(width, height);
    Clock clock;
    ScreenRecorder(platform, platform, clock).run(settings);
}

}  // namespace pixel_desktop
