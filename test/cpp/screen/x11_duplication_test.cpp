#include <gtest/gtest.h>
// Xlib after GoogleTest: its None macro clashes with a GoogleTest name.
#include <X11/Xlib.h>

#include <cstdlib>
#include <memory>

#include "platform/video_capture.h"
#include "private_xvfb.h"

namespace screen_test {
namespace {

// The real X11 layer on a display of its own.
class X11Duplication : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running()) GTEST_SKIP() << "Xvfb could not be started";
        platform = createVideoCapturePlatform();
        ASSERT_EQ(platform->createFactory(factory), hresult::ok);
        ASSERT_EQ(factory->enumAdapters(0, adapter), hresult::ok);
        ASSERT_EQ(platform->createDevice(*adapter, device, context, featureLevel), hresult::ok);
        DuplicationStep step{};
        ASSERT_EQ(device->duplicateOutput0(duplication, step), hresult::ok);
        ASSERT_EQ(device->createTexture(TextureKind::staging, duplication->mode(), staging), hresult::ok);
        painter = XOpenDisplay(xvfb.display().c_str());
        ASSERT_NE(painter, nullptr);
    }

    void TearDown() override {
        if (painter != nullptr) XCloseDisplay(painter);
    }

    // Fills a rectangle of the root window with a colour and waits until the server did it.
    void paint(unsigned long rgb, int x, int y, unsigned w, unsigned h) {
        const Window root = DefaultRootWindow(painter);
        GC gc = XCreateGC(painter, root, 0, nullptr);
        XSetForeground(painter, gc, rgb);
        XSetSubwindowMode(painter, gc, IncludeInferiors);
        XFillRectangle(painter, root, gc, x, y, w, h);
        XFreeGC(painter, gc);
        XSync(painter, False);
    }

    // Acquires until the result is not a wait timeout (the damage event may take a moment).
    HResult acquireChange(std::unique_ptr<DesktopResource>& resource) {
        HResult result = hresult::waitTimeout;
        for (int i = 0; i < 2000 && result == hresult::waitTimeout; ++i) {
            result = duplication->acquireNextFrame(0, resource);
            if (result == hresult::waitTimeout) usleep(1000);
        }
        return result;
    }

    PrivateXvfb xvfb;
    std::unique_ptr<VideoCapturePlatform> platform;
    std::unique_ptr<VideoFactory> factory;
    std::unique_ptr<VideoAdapter> adapter;
    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    uint32_t featureLevel = 0;
    std::unique_ptr<DesktopDuplication> duplication;
    std::unique_ptr<VideoTexture> staging;
    Display* painter = nullptr;
};

TEST_F(X11Duplication, ListsTheRealOutputAndMode) {
    OutputDescription output;
    ASSERT_EQ(adapter->describeOutput(0, output), hresult::ok);
    EXPECT_EQ(output.right - output.left, 640);
    EXPECT_EQ(output.bottom - output.top, 480);
    EXPECT_TRUE(output.attachedToDesktop);
    EXPECT_EQ(adapter->describeOutput(1, output), hresult::notFound);
    std::unique_ptr<VideoAdapter> none;
    EXPECT_EQ(factory->enumAdapters(1, none), hresult::notFound);
    AdapterDescription description;
    ASSERT_EQ(adapter->describe(description), hresult::ok);
    EXPECT_NE(description.description.find(xvfb.display()), std::string::npos);
    const DuplicationMode mode = duplication->mode();
    EXPECT_EQ(mode.width, 640u);
    EXPECT_EQ(mode.height, 480u);
    EXPECT_EQ(mode.format, pixelFormatB8G8R8A8);
}

TEST_F(X11Duplication, StillDesktopTimesOutAndDrawingDeliversTheNewImage) {
    std::unique_ptr<DesktopResource> resource;
    ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);  // the current desktop
    ASSERT_TRUE(resource);
    EXPECT_EQ(duplication->releaseFrame(), hresult::ok);
    EXPECT_EQ(duplication->acquireNextFrame(0, resource), hresult::waitTimeout);
    EXPECT_FALSE(resource);

    paint(0x123456, 10, 20, 30, 40);
    ASSERT_EQ(acquireChange(resource), hresult::ok);
    // One acquire, one release.
    std::unique_ptr<DesktopResource> second;
    EXPECT_LT(duplication->acquireNextFrame(0, second), 0);

    std::unique_ptr<VideoTexture> texture = resource->queryTexture();
    ASSERT_TRUE(texture);
    context->copyResource(*staging, *texture);
    MappedImage image;
    ASSERT_EQ(context->map(*staging, image), hresult::ok);
    EXPECT_GE(image.rowPitch, 640u * 4);
    const uint8_t* inside = image.data + 25 * image.rowPitch + 15 * 4;
    EXPECT_EQ(inside[0], 0x56);  // blue
    EXPECT_EQ(inside[1], 0x34);  // green
    EXPECT_EQ(inside[2], 0x12);  // red
    const uint8_t* outside = image.data + 100 * image.rowPitch + 100 * 4;
    EXPECT_EQ(outside[0] | outside[1] | outside[2], 0);
    context->unmap(*staging);
    EXPECT_EQ(duplication->releaseFrame(), hresult::ok);
    EXPECT_LT(duplication->releaseFrame(), 0);
}

TEST_F(X11Duplication, ScreenResizeLosesTheDuplication) {
    std::unique_ptr<DesktopResource> resource;
    ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);
    duplication->releaseFrame();
    // xrandr shrinks the screen (and complains that the output no longer fits, which is fine).
    ASSERT_NE(std::system("xrandr --fb 320x240 >/dev/null 2>&1"), -1);
    HResult result = hresult::waitTimeout;
    for (int i = 0; i < 2000 && result != hresult::accessLost; ++i) {
        result = duplication->acquireNextFrame(0, resource);
        if (result == hresult::ok) duplication->releaseFrame();
        usleep(1000);
    }
    EXPECT_EQ(result, hresult::accessLost);

    // A new duplication works on the new screen.
    duplication.reset();
    DuplicationStep step{};
    ASSERT_EQ(device->duplicateOutput0(duplication, step), hresult::ok);
    const DuplicationMode mode = duplication->mode();
    EXPECT_LE(mode.width, 640u);
    ASSERT_EQ(device->createTexture(TextureKind::staging, mode, staging), hresult::ok);
    ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);
    std::unique_ptr<VideoTexture> texture = resource->queryTexture();
    context->copyResource(*staging, *texture);
    MappedImage image;
    EXPECT_EQ(context->map(*staging, image), hresult::ok);
    EXPECT_EQ(duplication->releaseFrame(), hresult::ok);
    EXPECT_EQ(duplication->acquireNextFrame(0, resource), hresult::waitTimeout);
}

TEST_F(X11Duplication, LostServerLosesTheDuplicationWithoutEndingTheProcess) {
    std::unique_ptr<DesktopResource> resource;
    ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);
    duplication->releaseFrame();
    XCloseDisplay(painter);
    painter = nullptr;
    xvfb.stop();
    HResult result = hresult::waitTimeout;
    for (int i = 0; i < 2000 && result != hresult::accessLost; ++i) {
        result = duplication->acquireNextFrame(0, resource);
        if (result == hresult::ok) duplication->releaseFrame();
        usleep(1000);
    }
    EXPECT_EQ(result, hresult::accessLost);
    // A new duplication on the dead connection fails instead of crashing.
    std::unique_ptr<DesktopDuplication> again;
    DuplicationStep step{};
    EXPECT_LT(device->duplicateOutput0(again, step), 0);
    duplication.reset();
    staging.reset();
}

}  // namespace
}  // namespace screen_test
