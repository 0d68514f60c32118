// Recording control against recorders that only note what happens to them: which threads start,
// in what order they are stopped and joined, and what a refused thread leaves behind.
#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "addon/meta_json.h"
#include "addon/recording_session.h"
#include "recording_state.h"
#include "run_flags.h"
#include "screen_figures.h"

namespace session_test {

std::mutex eventsMutex;
std::vector<std::string> events;

void note(const std::string& event) {
    std::lock_guard<std::mutex> lock(eventsMutex);
    events.push_back(event);
}

// Each fake recorder waits for its own flag to fall, like the real ones, then notes its return.
template <std::atomic<bool> RunFlags::*flag, const char* name>
void fakeRecorder(RecordingSettings) {
    note(std::string("run ") + name);
    while ((processRecordingState().flags.*flag).load()) std::this_thread::yield();
    note(std::string("done ") + name);
}

constexpr char silent[] = "silent", playback[] = "playback", screen[] = "screen", mic[] = "mic",
               input[] = "input", webcam[] = "webcam";

RecorderEntryPoints fakeEntries() {
    RecorderEntryPoints entries = defaultRecorderEntryPoints();
    entries.silent = fakeRecorder<&RunFlags::silentRunning, silent>;
    entries.playback = fakeRecorder<&RunFlags::playbackRunning, playback>;
    entries.screen = fakeRecorder<&RunFlags::screenRunning, screen>;
    entries.mic = fakeRecorder<&RunFlags::micRunning, mic>;
    entries.input = fakeRecorder<&RunFlags::inputRunning, input>;
    entries.webcam = fakeRecorder<&RunFlags::webcamRunning, webcam>;
    entries.requestInputStop = [] { note("stop input"); };
    entries.joinInput = [](std::thread& t) {
        t.join();
        note("joined input");
    };
    return entries;
}

class RecordingSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        dir = std::filesystem::temp_directory_path() / ("desktracks-session-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        sink = std::tmpfile();
    }
    void TearDown() override {
        std::fclose(sink);
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
    std::FILE* sink = nullptr;
};

TEST_F(RecordingSessionTest, StopsTheHookFirstJoinsEveryRecorderAndResets) {
    RecordingSession session(fakeEntries());
    session.settings.projectDir = dir;
    session.settings.micIndex = 0;
    session.settings.systemAudioIndex = 3;
    session.settings.webcamIndex = 1;
    session.begin();
    session.finish(sink);

    // The hook is asked to stop before any recorder is let go; every one has returned at the end.
    const auto stop = std::find(events.begin(), events.end(), "stop input");
    ASSERT_NE(stop, events.end());
    for (auto e = events.begin(); e != stop; ++e) EXPECT_NE(e->rfind("done ", 0), 0u) << *e;
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("done ", 0) == 0; }), 6);
    EXPECT_FALSE(screenRunning.load());
    EXPECT_FALSE(RecordingSession::anyRecording());
    EXPECT_EQ(session.settings.micIndex, -1);
    EXPECT_EQ(session.settings.systemAudioIndex, -1);
    EXPECT_EQ(session.settings.webcamIndex, 1);
}

TEST_F(RecordingSessionTest, ARefusedThreadLeavesNothingRunning) {
    RecorderEntryPoints entries = fakeEntries();
    entries.launch = [](RecorderEntryPoints::Entry entry, RecordingSettings settings) -> std::thread {
        if (entry == fakeEntries().mic) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(entry, std::move(settings));
    };
    RecordingSession session(entries);
    session.settings.projectDir = dir;
    session.settings.micIndex = 0;
    try {
        session.begin();
        FAIL() << "begin should have thrown";
    } catch (const RecordingError& e) {
        EXPECT_NE(std::string(e.what()).find("microphone"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(session.isRecording());
    EXPECT_FALSE(RecordingSession::anyRecording());
    EXPECT_FALSE(screenRunning.load());
    EXPECT_EQ(spdlog::get("basic_logger"), nullptr);
    EXPECT_NE(std::find(events.begin(), events.end(), "done screen"), events.end());
    EXPECT_EQ(session.settings.micIndex, 0) << "settings stay as given";

    // The next recording goes ahead.
    session.settings.micIndex = -1;
    session.begin();
    session.finish(sink);
}

TEST(MetaJson, WritesTheScreenFiguresAndSettings) {
    VIDEO_FPS = 60;
    VIDEO_WIDTH = 640;
    VIDEO_HEIGHT = 480;
    recordingStartTime = 1700000000123;
    recordedArea = {100, 50, 740, 530};
    RecordingSettings settings;
    settings.area = {1, 2, 3, 4};  // asked for; the area recorded is what counts
    settings.micIndex = 2;
    EXPECT_EQ(buildMetaJson(settings),
              "{\n    \"fps\": 60,\n    \"height\": 480,\n    \"micChannels\": 1,\n    \"micIndex\": 2,\n"
              "    \"micSimpleRate\": 16000,\n    \"playbackChannels\": 1,\n    \"playbackSimpleRate\": 16000,\n"
              "    \"rx\": [\n        100,\n        50,\n        740,\n        530\n    ],\n"
              "    \"systemAudioIndex\": -1,\n    \"time\": 1700000000123,\n    \"width\": 640\n}");
}

}  // namespace session_test
