// The input thread against a stand-in for libuiohook that behaves as the real one does where it
// hurts: a stop asked before the hook is enabled is ignored, and a hook that cannot start
// returns at once with an error status.
#include <gtest/gtest.h>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "input/input_recorder.h"
#include "run_flags.h"

namespace input_test {

using namespace std::chrono_literals;

struct FakeHook {
    std::mutex mutex;
    std::condition_variable changed;
    dispatcher_t dispatch = nullptr;
    std::atomic<bool> inRun{false};
    bool enabled = false, stopped = false;
    std::chrono::milliseconds enableDelay{0};
    int failStatus = UIOHOOK_SUCCESS;
} fake;

const InputHookLibrary fakeLibrary{
    [](dispatcher_t dispatch) { fake.dispatch = dispatch; },
    [] {
        if (fake.failStatus != UIOHOOK_SUCCESS) return fake.failStatus;
        fake.inRun = true;
        std::this_thread::sleep_for(fake.enableDelay);
        uiohook_event event{EVENT_HOOK_ENABLED};
        std::unique_lock<std::mutex> lock(fake.mutex);
        fake.enabled = true;
        lock.unlock();
        fake.dispatch(&event);
        lock.lock();
        fake.changed.wait(lock, [] { return fake.stopped; });
        event.type = EVENT_HOOK_DISABLED;
        fake.dispatch(&event);
        return int{UIOHOOK_SUCCESS};
    },
    [] {
        std::lock_guard<std::mutex> lock(fake.mutex);
        if (!fake.enabled) return int{UIOHOOK_FAILURE};  // libuiohook ignores it; hook_run never returns
        fake.stopped = true;
        fake.changed.notify_all();
        return int{UIOHOOK_SUCCESS};
    }};

class InputThread : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(settings.projectDir); }

    void startRecording(std::chrono::milliseconds enableDelay, int failStatus = UIOHOOK_SUCCESS) {
        fake.inRun = fake.enabled = fake.stopped = false;
        fake.enableDelay = enableDelay;
        fake.failStatus = failStatus;
        TearDown();
        settings.projectDir = std::filesystem::temp_directory_path() / ("desktracks-input-" + std::to_string(getpid()));
        std::filesystem::create_directories(settings.projectDir);
        settings.logger = std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::ostream_sink_mt>(log));
        setAllRunFlags(true);
        thread = std::thread([this] { recordInput(settings, &fakeLibrary, ""); });
    }

    // What recording end does; a hang here would hang end() forever.
    void endRecording() {
        auto ended = std::async(std::launch::async, [this] {
            requestInputStop();
            setAllRunFlags(false);
            joinInputRecorder(thread);
        });
        if (ended.wait_for(5s) != std::future_status::ready) {
            std::fprintf(stderr, "the input thread did not end within 5 s\n");
            std::_Exit(1);
        }
    }
    std::string file(const char* name) { return (std::stringstream() << std::ifstream(settings.projectDir / name).rdbuf()).str(); }

    RecordingSettings settings;
    std::ostringstream log;
    std::thread thread;
};

TEST_F(InputThread, EndRightAfterStartOrBeforeTheHookIsUpReturnsAndWritesTheFiles) {
    for (auto delay : {0ms, 1ms, 5ms, 30ms, 100ms}) {
        startRecording(delay);
        while (delay == 100ms && !fake.inRun) std::this_thread::sleep_for(1ms);  // in hook_run, not yet enabled
        endRecording();
        EXPECT_EQ(fake.stopped, fake.inRun.load()) << delay.count();  // a hook that ran was stopped
        EXPECT_EQ(file("positions.json") + file("clicks.json"), "[][]") << delay.count();
        EXPECT_TRUE(std::filesystem::exists(settings.projectDir / "cursor_info.json"));
    }
    EXPECT_EQ(log.str(), "");
}

TEST_F(InputThread, AHookThatCannotStartLeavesEmptyTracksAndOneLogLine) {
    startRecording(0ms, UIOHOOK_ERROR_X_RECORD_NOT_FOUND);
    thread.join();  // returns on its own
    EXPECT_EQ(file("positions.json") + file("clicks.json"), "[][]");
    const std::string text = log.str();
    EXPECT_NE(text.find("[error] input: the input hook could not start (the X server has no RECORD extension)"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    endRecording();  // the later stop has nothing to stop
}

}  // namespace input_test
