#include <gtest/gtest.h>
// After GoogleTest, whose names Xlib's macros (None, Bool) would otherwise replace.
#include <X11/Xlib.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "common/private_xvfb.h"
#include "platform/linux/frame_converter.h"
#include "platform/video_capture.h"

namespace x11_duplication_test {
namespace {

struct Desktop {
    std::unique_ptr<VideoCapturePlatform> platform = createVideoCapturePlatform();
    std::unique_ptr<VideoFactory> factory;
    std::unique_ptr<VideoAdapter> adapter;
    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    std::unique_ptr<DesktopDuplication> duplication;
    std::unique_ptr<VideoTexture> staging;

    bool open() {
        uint32_t featureLevel = 0;
        DuplicationStep step{};
        return platform->createFactory(factory) == hresult::ok && factory->enumAdapters(0, adapter) == hresult::ok &&
               platform->createDevice(*adapter, device, context, featureLevel) == hresult::ok &&
               device->duplicateOutput0(duplication, step) == hresult::ok && (staging = texture()) != nullptr;
    }
    std::unique_ptr<VideoTexture> texture() {
        std::unique_ptr<VideoTexture> created;
        device->createTexture(TextureKind::staging, duplication->mode(), created);
        return created;
    }
    // The image of a texture, rows of 640 pixels.
    std::vector<uint32_t> pixels(VideoTexture& texture) {
        MappedImage image;
        if (context->map(texture, image) != hresult::ok) return {};
        std::vector<uint32_t> result(640 * 480);
        for (int y = 0; y < 480; ++y) std::memcpy(&result[y * 640], image.data + size_t(y) * image.rowPitch, 640 * 4);
        context->unmap(texture);
        return result;
    }
};

// A client of its own draws on the root window.
struct Painter {
    Display* dpy = XOpenDisplay(nullptr);
    ~Painter() {
        if (dpy != nullptr) XCloseDisplay(dpy);
    }
    void fill(unsigned long colour, int x, int y, unsigned w, unsigned h) {
        GC gc = XCreateGC(dpy, DefaultRootWindow(dpy), 0, nullptr);
        XSetForeground(dpy, gc, colour);
        XFillRectangle(dpy, DefaultRootWindow(dpy), gc, x, y, w, h);
        XFreeGC(dpy, gc);
        XSync(dpy, False);
    }
};

// With and without MIT-SHM (plain XGetImage), grabbing parts must give the whole image.
class X11Damage : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(SharedMemory, X11Damage, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "MitShm" : "PlainXGetImage"; });

TEST_P(X11Damage, AChangeIsReportedWhereItIsAndItsPartsAloneMakeTheWholeImage) {
    test_support::PrivateXvfb xvfb(GetParam());
    if (!xvfb.running) GTEST_SKIP() << "Xvfb could not be started";
    Desktop desktop;
    ASSERT_TRUE(desktop.open());
    const std::vector<CaptureNote> notes = desktop.platform->captureNotes();
    EXPECT_EQ(notes.size(), GetParam() ? 0u : 1u);
    Painter painter;
    ASSERT_NE(painter.dpy, nullptr);
    painter.fill(0x336699, 0, 0, 640, 480);

    std::unique_ptr<DesktopResource> resource;
    std::vector<ImageRect> rects;
    ASSERT_EQ(desktop.duplication->acquireNextFrame(0, resource), hresult::ok);
    EXPECT_FALSE(desktop.duplication->changedRects(rects)) << "the first frame is the whole desktop";
    std::unique_ptr<VideoTexture> frame = resource->queryTexture();
    desktop.context->copyResource(*desktop.staging, *frame);
    desktop.duplication->releaseFrame();

    painter.fill(0xff0000, 100, 50, 40, 30);
    painter.fill(0x00ff00, 600, 470, 100, 100);  // partly off the screen
    ASSERT_EQ(desktop.duplication->acquireNextFrame(1000, resource), hresult::ok);
    ASSERT_TRUE(desktop.duplication->changedRects(rects));
    ImageRect bounds{640, 480, 0, 0};
    int64_t area = 0;
    for (const ImageRect& r : rects) {
        bounds = {std::min(bounds.left, r.left), std::min(bounds.top, r.top), std::max(bounds.right, r.right), std::max(bounds.bottom, r.bottom)};
        area += r.area();
    }
    EXPECT_EQ(area, 40 * 30 + 40 * 10) << "only what was drawn, clipped to the output";
    EXPECT_EQ(bounds.left, 100);
    EXPECT_EQ(bounds.top, 50);
    EXPECT_EQ(bounds.right, 640);
    EXPECT_EQ(bounds.bottom, 480);

    frame = resource->queryTexture();
    for (const ImageRect& r : rects) desktop.context->copyRegion(*desktop.staging, *frame, r);
    std::unique_ptr<VideoTexture> whole = desktop.texture();
    desktop.context->copyResource(*whole, *frame);
    desktop.duplication->releaseFrame();
    const std::vector<uint32_t> parts = desktop.pixels(*desktop.staging);
    ASSERT_EQ(parts.size(), 640u * 480u);
    EXPECT_EQ(parts, desktop.pixels(*whole));
    EXPECT_EQ(parts[60 * 640 + 110] & 0xffffff, 0xff0000u);
    EXPECT_EQ(parts[475 * 640 + 620] & 0xffffff, 0x00ff00u);
    EXPECT_EQ(parts[10 * 640 + 10] & 0xffffff, 0x336699u);
}

TEST(X11DamageWait, AnAcquireWithATimeoutWaitsForTheNextChange) {
    test_support::PrivateXvfb xvfb;
    if (!xvfb.running) GTEST_SKIP() << "Xvfb could not be started";
    Desktop desktop;
    ASSERT_TRUE(desktop.open());
    std::unique_ptr<DesktopResource> resource;
    ASSERT_EQ(desktop.duplication->acquireNextFrame(0, resource), hresult::ok);
    desktop.duplication->releaseFrame();
    EXPECT_EQ(desktop.duplication->acquireNextFrame(20, resource), hresult::waitTimeout);

    std::thread drawing([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Painter().fill(0xffffff, 5, 5, 10, 10);
    });
    const auto start = std::chrono::steady_clock::now();
    const HResult result = desktop.duplication->acquireNextFrame(20000, resource);
    const auto waited = std::chrono::steady_clock::now() - start;
    drawing.join();
    EXPECT_EQ(result, hresult::ok);
    EXPECT_LT(waited, std::chrono::seconds(10)) << "woken by the change, not by the timeout";
    desktop.duplication->releaseFrame();
}

// Converting only the changed parts of a screen frame gives the picture a whole conversion gives.
TEST(FrameConverterParts, ConvertingTheChangedPartsEqualsConvertingTheWholeFrame) {
    for (const auto& [width, height] : {std::pair{64, 48}, std::pair{63, 47}}) {
        VideoMediaType input;
        input.subtype = VideoSubtype::rgb32;
        input.width = uint32_t(width);
        input.height = uint32_t(height);
        std::unique_ptr<FrameConverter> converter;
        ASSERT_EQ(FrameConverter::create(input, width & ~1, height & ~1, converter), hresult::ok);
        const auto picture = [&] {
            std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = width & ~1;
            frame->height = height & ~1;
            av_frame_get_buffer(frame.get(), 0);
            return frame;
        };
        const auto planes = [&](const AVFrame& frame) {
            std::vector<uint8_t> bytes;
            for (int plane = 0; plane < 3; ++plane) {
                const int rows = plane == 0 ? (height & ~1) : (height & ~1) / 2;
                const int columns = plane == 0 ? (width & ~1) : (width & ~1) / 2;
                for (int y = 0; y < rows; ++y) bytes.insert(bytes.end(), frame.data[plane] + y * frame.linesize[plane], frame.data[plane] + y * frame.linesize[plane] + columns);
            }
            return bytes;
        };
        std::mt19937 random(7);
        std::vector<uint8_t> before(size_t(width) * height * 4);
        for (uint8_t& byte : before) byte = uint8_t(random());
        std::vector<uint8_t> after = before;
        // Odd edges, and a part that reaches the last (odd) row and column.
        const std::vector<ImageRect> parts = {{3, 5, 20, 12}, {width - 9, height - 7, width, height}};
        for (const ImageRect& r : parts) {
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left * 4; x < r.right * 4; ++x) after[size_t(height - 1 - y) * width * 4 + x] = uint8_t(random());
            }
        }
        auto updated = picture();
        auto expected = picture();
        ASSERT_EQ(converter->convert(before.data(), before.size(), *updated), hresult::ok);
        ASSERT_EQ(converter->convertParts(after.data(), after.size(), parts, *updated), hresult::ok);
        ASSERT_EQ(converter->convert(after.data(), after.size(), *expected), hresult::ok);
        EXPECT_EQ(planes(*updated), planes(*expected)) << width << "x" << height;
    }
}

TEST(X11Duplication, StillDesktopTimesOutAndAResizeLosesTheDuplication) {
    test_support::PrivateXvfb xvfb;
    if (!xvfb.running) GTEST_SKIP() << "Xvfb could not be started";
    Desktop desktop;
    ASSERT_TRUE(desktop.open());
    DesktopDuplication& duplication = *desktop.duplication;
    std::unique_ptr<DesktopResource> resource;
    EXPECT_EQ(duplication.mode().width, 640u);

    ASSERT_EQ(duplication.acquireNextFrame(0, resource), hresult::ok);  // the current desktop
    EXPECT_EQ(duplication.releaseFrame(), hresult::ok);
    EXPECT_EQ(duplication.acquireNextFrame(0, resource), hresult::waitTimeout);

    // xrandr shrinks the screen (and complains that the output no longer fits, which is fine).
    ASSERT_NE(std::system("xrandr --fb 320x240 >/dev/null 2>&1"), -1);
    HResult result = hresult::waitTimeout;
    for (int i = 0; i < 2000 && result != hresult::accessLost; ++i) {
        result = duplication.acquireNextFrame(0, resource);
        if (result == hresult::ok) duplication.releaseFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(result, hresult::accessLost);

    // A new duplication works on the new screen.
    desktop.duplication.reset();
    DuplicationStep step{};
    ASSERT_EQ(desktop.device->duplicateOutput0(desktop.duplication, step), hresult::ok);
    EXPECT_EQ(desktop.duplication->acquireNextFrame(0, resource), hresult::ok);
    EXPECT_EQ(desktop.duplication->releaseFrame(), hresult::ok);
}

}  // namespace
}  // namespace x11_duplication_test
