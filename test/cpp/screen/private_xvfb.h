#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace screen_test {

// A display of the test's own, so that resizing or killing it disturbs nobody.
class PrivateXvfb {
public:
    explicit PrivateXvfb(const std::string& size = "640x480x24") {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test that crashed
            // Keep the test's output pipes free of the server.
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen = size;
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "+extension",
                   "RANDR", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buffer[32] = {};
        ssize_t got = 0;
        while (got < static_cast<ssize_t>(sizeof buffer) - 1) {
            const ssize_t n = read(fds[0], buffer + got, sizeof buffer - 1 - got);
            if (n <= 0) break;
            got += n;
            if (buffer[got - 1] == '\n') break;
        }
        close(fds[0]);
        if (got > 0) {
            name = ":" + std::string(buffer, buffer + got - 1);
            const char* previous = std::getenv("DISPLAY");
            if (previous != nullptr) savedDisplay = previous;
            hadDisplay = previous != nullptr;
            setenv("DISPLAY", name.c_str(), 1);
        }
    }

    ~PrivateXvfb() {
        stop();
        if (hadDisplay) {
            setenv("DISPLAY", savedDisplay.c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }

    bool running() const { return !name.empty(); }
    const std::string& display() const { return name; }

    void stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

private:
    pid_t pid = -1;
    std::string name;
    std::string savedDisplay;
    bool hadDisplay = false;
};

}  // namespace screen_test
