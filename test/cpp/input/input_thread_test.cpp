// The input thread against a stand-in for libuiohook that behaves as the real one does where it
// hurts: a stop asked before the hook is enabled is ignored, and a hook that cannot start
// returns at once with an error status.
#include <gtest/gtest.h>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "input/input_recorder.h"
#include "input/input_records.h"
#include "run_flags.h"

namespace input_test {

using namespace std::chrono_literals;

struct FakeHook {
    std::mutex mutex;
    std::condition_variable changed;
    dispatcher_t dispatch = nullptr;
    std::atomic<bool> inRun{false};
    bool enabled = false;
    bool stopped = false;
    int stopCalls = 0;
    std::chrono::milliseconds enableDelay{0};
    int failStatus = UIOHOOK_SUCCESS;
    std::vector<uiohook_event> eventsOnceEnabled;
};
FakeHook fake;

void fakeSetDispatch(dispatcher_t dispatch) { fake.dispatch = dispatch; }

void send(event_type type) {
    uiohook_event event{};
    event.type = type;
    fake.dispatch(&event);
}

int fakeRun() {
    if (fake.failStatus != UIOHOOK_SUCCESS) return fake.failStatus;
    fake.inRun = true;
    std::this_thread::sleep_for(fake.enableDelay);
    {
        std::lock_guard<std::mutex> lock(fake.mutex);
        fake.enabled = true;
    }
    send(EVENT_HOOK_ENABLED);
    for (uiohook_event event : fake.eventsOnceEnabled) {
        std::this_thread::sleep_for(15ms);  // past the gate the enabled event opened
        fake.dispatch(&event);
    }
    {
        std::unique_lock<std::mutex> lock(fake.mutex);
        fake.changed.wait(lock, [] { return fake.stopped; });
    }
    send(EVENT_HOOK_DISABLED);
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.enabled = false;
    return UIOHOOK_SUCCESS;
}

int fakeStop() {
    std::lock_guard<std::mutex> lock(fake.mutex);
    ++fake.stopCalls;
    if (!fake.enabled) return UIOHOOK_FAILURE;  // libuiohook ignores it, and hook_run never returns
    fake.stopped = true;
    fake.changed.notify_all();
    return UIOHOOK_SUCCESS;
}

const InputHookLibrary fakeLibrary{fakeSetDispatch, fakeRun, fakeStop};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class InputThread : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(fake.mutex);
            fake.dispatch = nullptr;
            fake.inRun = false;
            fake.enabled = false;
            fake.stopped = false;
            fake.stopCalls = 0;
            fake.enableDelay = 0ms;
            fake.failStatus = UIOHOOK_SUCCESS;
            fake.eventsOnceEnabled.clear();
        }
        settings.projectDir = std::filesystem::temp_directory_path() /
                              ("desktracks-input-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(settings.projectDir);
        std::filesystem::create_directories(settings.projectDir);
        settings.logger = std::make_shared<spdlog::logger>("input_test",
                                                           std::make_shared<spdlog::sinks::ostream_sink_mt>(log));
    }
    void TearDown() override {
        setAllRunFlags(false);
        std::filesystem::remove_all(settings.projectDir);
    }

    void startRecording() {
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

    std::string file(const char* name) { return readFile(settings.projectDir / name); }

    RecordingSettings settings;
    std::ostringstream log;
    std::thread thread;
};

TEST_F(InputThread, EndRightAfterStartReturnsWhateverTheHookIsDoing) {
    for (auto delay : {0ms, 1ms, 5ms, 30ms}) {
        SetUp();
        fake.enableDelay = delay;
        startRecording();
        endRecording();
        EXPECT_EQ(file("positions.json"), "[]") << delay.count();
        EXPECT_EQ(file("clicks.json"), "[]") << delay.count();
        EXPECT_TRUE(std::filesystem::exists(settings.projectDir / "cursor_info.json"));
    }
}

TEST_F(InputThread, AStopAskedBeforeTheHookIsUpIsRepeatedOnceItIs) {
    fake.enableDelay = 100ms;
    startRecording();
    while (!fake.inRun) std::this_thread::sleep_for(1ms);  // inside hook_run, not yet enabled
    endRecording();
    EXPECT_GE(fake.stopCalls, 1);
    EXPECT_TRUE(fake.stopped);
}

TEST_F(InputThread, RecordsEventsAndWritesThemWhenStopped) {
    uiohook_event press{};
    press.type = EVENT_MOUSE_PRESSED;
    press.data.mouse.x = -7;
    press.data.mouse.y = 9;
    press.data.mouse.button = 1;
    fake.eventsOnceEnabled = {press};
    startRecording();
    while (clickRecords.empty()) std::this_thread::sleep_for(1ms);
    endRecording();

    const std::string clicks = file("clicks.json");
    EXPECT_NE(clicks.find("\"x\": -7"), std::string::npos) << clicks;
    EXPECT_NE(clicks.find("\"button\": 1"), std::string::npos) << clicks;
    EXPECT_EQ(file("positions.json"), "[]");
    // Ready for the next recording.
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_EQ(lastEventTime, 0);
    EXPECT_EQ(log.str(), "");
}

TEST_F(InputThread, AHookThatCannotStartLeavesEmptyTracksAndOneLogLine) {
    fake.failStatus = UIOHOOK_ERROR_X_RECORD_NOT_FOUND;
    startRecording();
    thread.join();  // returns on its own
    EXPECT_EQ(file("positions.json"), "[]");
    EXPECT_EQ(file("clicks.json"), "[]");
    const std::string text = log.str();
    EXPECT_NE(text.find("[error] input: the input hook could not start (the X server has no RECORD extension)"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    endRecording();  // the later stop has nothing to stop
}

TEST_F(InputThread, AMissingHookLibraryIsLoggedAndTheFilesAreStillWritten) {
    setAllRunFlags(true);
    thread = std::thread([this] { recordInput(settings, nullptr, "cannot load /x/libuiohook.so"); });
    endRecording();
    EXPECT_EQ(file("positions.json"), "[]");
    EXPECT_NE(log.str().find("input: the input hook could not start (cannot load /x/libuiohook.so)"),
              std::string::npos);
}

TEST_F(InputThread, AnUnwritableProjectDirLosesTheFilesButNotTheThread) {
    settings.projectDir /= "missing/deeper";
    startRecording();
    endRecording();
    EXPECT_FALSE(std::filesystem::exists(settings.projectDir / "positions.json"));
}

}  // namespace input_test
