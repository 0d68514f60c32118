#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace test_support {

// A 640x480 display of the test's own, so that drawing on it or resizing it disturbs nobody;
// DISPLAY names it from then on. Without `sharedMemory` the server has no MIT-SHM extension.
class PrivateXvfb {
public:
    explicit PrivateXvfb(bool sharedMemory = true) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test that crashed
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp", "+extension",
                   "RANDR", sharedMemory ? "+extension" : "-extension", "MIT-SHM", static_cast<char*>(nullptr));
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
    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;
    bool running = false;

private:
    pid_t pid = -1;
};

}  // namespace test_support
