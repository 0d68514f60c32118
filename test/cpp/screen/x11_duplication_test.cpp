#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/video_capture.h"

namespace screen_test {
namespace {

// A 640x480 display of the test's own, so that resizing it disturbs nobody; DISPLAY names it from then on.
class PrivateXvfb {
public:
    PrivateXvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test that crashed
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp", "+extension",
                   "RANDR", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buffer[32] = {};
        ssize_t got = 0;
        for (ssize_t n; got < 31 && !std::memchr(buffer, '\n', got) && (n = read(fds[0], buffer + got, 31 - got)) > 0;) got += n;
        close(fds[0]);
        running = got > 0 && setenv("DISPLAY", (":" + std::string(buffer, std::strcspn(buffer, "\n"))).c_str(), 1) == 0;
    }
    ~PrivateXvfb() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
    bool running = false;

private:
    pid_t pid = -1;
};

TEST(X11Duplication, StillDesktopTimesOutAndAResizeLosesTheDuplication) {
    PrivateXvfb xvfb;
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
