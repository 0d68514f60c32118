#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "common/private_xvfb.h"
#include "platform/video_capture.h"

namespace screen_test {
namespace {

TEST(X11Duplication, StillDesktopTimesOutAndAResizeLosesTheDuplication) {
    test_support::PrivateXvfb xvfb;
    if (!xvfb.running) GTEST_SKIP() << "Xvfb could not be started";
    const std::unique_ptr<VideoCapturePlatform> platform = createVideoCapturePlatform();
    std::unique_ptr<VideoFactory> factory;
    std::unique_ptr<VideoAdapter> adapter;
    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    std::unique_ptr<DesktopDuplication> duplication;
    std::unique_ptr<DesktopResource> resource;
    uint32_t featureLevel = 0;
    DuplicationStep step{};
    ASSERT_EQ(platform->createFactory(factory), hresult::ok);
    ASSERT_EQ(factory->enumAdapters(0, adapter), hresult::ok);
    ASSERT_EQ(platform->createDevice(*adapter, device, context, featureLevel), hresult::ok);
    ASSERT_EQ(device->duplicateOutput0(duplication, step), hresult::ok);
    EXPECT_EQ(duplication->mode().width, 640u);

    ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);  // the current desktop
    EXPECT_EQ(duplication->releaseFrame(), hresult::ok);
    EXPECT_EQ(duplication->acquireNextFrame(0, resource), hresult::waitTimeout);

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
    ASSERT_EQ(device->duplicateOutput0(duplication, step), hresult::ok);
    EXPECT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);
    EXPECT_EQ(duplication->releaseFrame(), hresult::ok);
}

}  // namespace
}  // namespace screen_test
