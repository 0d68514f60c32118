// The keep-alive's set-up and refill loop against a render stream that fails on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "audio/silent_keep_alive.h"
#include "run_flags.h"

namespace audio_test {

using namespace std::chrono_literals;

constexpr StreamStatus failure = -2147467259;  // E_FAIL

enum Step { enumerator, endpoint, activate, mixFormat, initialize, renderClient, firstBuffer, firstRelease, start, stepCount };

// Records every call; fails the step named in failAt and, in the loop, the calls asked to fail.
class FakeRenderStream : public SilentRenderStream {
public:
    explicit FakeRenderStream(StreamMixFormat format) : format(format) {}

    int failAt = stepCount;
    bool failPadding = false;
    bool failLoopBuffer = false;
    uint32_t padding = 0;
    int cyclesBeforeStop = 1;  // the recording ends during this many padding queries

    std::vector<std::string> calls;
    std::vector<uint32_t> bufferRequests;
    std::vector<uint32_t> releases;
    std::vector<uint8_t> memory;

    StreamStatus createEnumerator() override { return step(enumerator, "createEnumerator"); }
    StreamStatus openDefaultEndpoint() override { return step(endpoint, "openDefaultEndpoint"); }
    StreamStatus activateClient() override { return step(activate, "activateClient"); }
    StreamStatus getMixFormat(StreamMixFormat& out) override {
        const StreamStatus status = step(Step::mixFormat, "getMixFormat");
        if (!streamFailed(status)) out = format;
        return status;
    }
    StreamStatus initialize(int64_t duration) override {
        EXPECT_EQ(duration, 10000000);
        return step(Step::initialize, "initialize");
    }
    StreamStatus getRenderClient() override { return step(Step::renderClient, "getRenderClient"); }
    StreamStatus getBuffer(uint32_t frames, uint8_t** data) override {
        bufferRequests.push_back(frames);
        memory.assign(static_cast<size_t>(frames) * format.channels * format.bitsPerSample / 8 + 16, 0xAB);
        *data = memory.data();
        if (!looping) return step(firstBuffer, "getBuffer");
        calls.push_back("getBuffer");
        return failLoopBuffer ? failure : 0;
    }
    StreamStatus releaseBufferSilent(uint32_t frames) override {
        releases.push_back(frames);
        if (!looping) return step(firstRelease, "releaseBuffer");
        calls.push_back("releaseBuffer");
        return 0;
    }
    StreamStatus start() override { return step(Step::start, "start"); }
    StreamStatus currentPadding(uint32_t& frames) override {
        calls.push_back("currentPadding");
        looping = true;  // from here on buffer calls belong to the loop
        if (--cyclesBeforeStop <= 0) silentRunning.exchange(false);
        if (failPadding) return failure;
        frames = padding;
        return 0;
    }

private:
    StreamStatus step(int which, const char* name) {
        calls.push_back(name);
        return which == failAt ? failure : 0;
    }

    StreamMixFormat format;
    bool looping = false;
};

class SilentKeepAliveTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger = std::make_shared<spdlog::logger>("silent_test", std::make_shared<spdlog::sinks::ostream_sink_st>(lines));
        logger->set_pattern("%l %v");
        silentRunning.exchange(true);
        silentFeeding.exchange(true);
    }
    void TearDown() override {
        silentRunning.exchange(false);
        silentFeeding.exchange(false);
    }

    StreamStatus run(FakeRenderStream& stream) { return runSilentKeepAlive(stream, *logger, 1ms); }

    std::vector<std::string> logLines() const {
        std::vector<std::string> result;
        std::istringstream in(lines.str());
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    std::ostringstream lines;
    std::shared_ptr<spdlog::logger> logger;
    const StreamMixFormat stereoFloat48k{48000, 2, 32};
};

const std::vector<std::string> fullSetUpLog = {
    "info silent: GetDefaultAudioEndpoint success", "info silent: Activate success",
    "info silent: Initialize success",              "info silent: GetService success",
    "info silent: GetBuffer success",               "info silent: ReleaseBuffer success",
    "info silent: Start success",
};

TEST_F(SilentKeepAliveTest, SetUpQueuesOneSecondOfSilenceAndLogsEachStep) {
    FakeRenderStream stream(stereoFloat48k);
    silentRunning.exchange(false);
    EXPECT_FALSE(streamFailed(run(stream)));
    EXPECT_EQ(logLines(), fullSetUpLog);
    EXPECT_EQ(stream.bufferRequests, std::vector<uint32_t>{48000});
    EXPECT_EQ(stream.releases, std::vector<uint32_t>{48000});
    EXPECT_EQ(stream.calls.back(), "start") << "no refill once the recording has ended";
}

TEST_F(SilentKeepAliveTest, EachCycleTopsTheQueueUpToOneSecondWithZeros) {
    FakeRenderStream stream(stereoFloat48k);
    stream.padding = 24000;
    stream.cyclesBeforeStop = 3;
    EXPECT_FALSE(streamFailed(run(stream)));
    EXPECT_EQ(stream.bufferRequests, (std::vector<uint32_t>{48000, 24000, 24000, 24000}));
    EXPECT_EQ(stream.releases, (std::vector<uint32_t>{48000, 24000, 24000, 24000}));
    // 24000 frames of 2 x 32-bit samples: 192000 bytes zeroed, nothing past them touched.
    ASSERT_EQ(stream.memory.size(), 192000u + 16);
    EXPECT_EQ(std::count(stream.memory.begin(), stream.memory.begin() + 192000, 0), 192000);
    EXPECT_EQ(std::count(stream.memory.begin() + 192000, stream.memory.end(), 0xAB), 16);
    EXPECT_EQ(logLines(), fullSetUpLog);
}

TEST_F(SilentKeepAliveTest, AFullQueueIsNotRefilled) {
    FakeRenderStream stream(stereoFloat48k);
    stream.padding = 48000;
    stream.cyclesBeforeStop = 2;
    run(stream);
    EXPECT_EQ(stream.bufferRequests, std::vector<uint32_t>{48000});
}

TEST_F(SilentKeepAliveTest, LoopFailuresAreLoggedOnceAndEndTheKeepAliveWithASuccessfulStatus) {
    {
        FakeRenderStream stream(stereoFloat48k);
        stream.failPadding = true;
        stream.cyclesBeforeStop = 100;
        EXPECT_FALSE(streamFailed(run(stream)));
        EXPECT_EQ(logLines().back(), "error silent: GetCurrentPadding failed");
        EXPECT_TRUE(silentRunning.load()) << "the loop ended on its own";
    }
    lines.str("");
    {
        FakeRenderStream stream(stereoFloat48k);
        stream.failLoopBuffer = true;
        stream.padding = 1000;
        stream.cyclesBeforeStop = 100;
        EXPECT_FALSE(streamFailed(run(stream)));
        EXPECT_EQ(logLines().back(), "error silent: GetBuffer failed");
        EXPECT_EQ(stream.calls.back(), "getBuffer") << "a failed buffer is not released";
    }
}

TEST_F(SilentKeepAliveTest, AFailedSetUpStepStopsTheSetUpThere) {
    const char* names[] = {"createEnumerator", "openDefaultEndpoint", "activateClient", "getMixFormat", "initialize",
                           "getRenderClient",  "getBuffer",           "releaseBuffer",  "start"};
    for (int failing = enumerator; failing < stepCount; ++failing) {
        SCOPED_TRACE(names[failing]);
        lines.str("");
        silentRunning.exchange(true);
        FakeRenderStream stream(stereoFloat48k);
        stream.failAt = failing;
        stream.cyclesBeforeStop = 2;
        stream.padding = 48000;
        EXPECT_TRUE(streamFailed(run(stream)));

        // No message names the failure: the successes before it show how far the set-up got.
        const int successesLogged = failing - (failing > mixFormat ? 2 : 1);
        const std::vector<std::string> expected(fullSetUpLog.begin(), fullSetUpLog.begin() + std::max(successesLogged, 0));
        EXPECT_EQ(logLines(), expected);

        const std::vector<std::string> setUpCalls(stream.calls.begin(),
                                                  stream.calls.begin() + std::min<size_t>(stream.calls.size(), failing + 1));
        EXPECT_EQ(setUpCalls.back(), names[failing]);
        const bool refills = failing > renderClient;  // mix format and render client in hand
        EXPECT_EQ(stream.calls.size() > static_cast<size_t>(failing + 1), refills);
    }
}

TEST_F(SilentKeepAliveTest, TheEndOfTheRecordingCutsTheCycleWaitShort) {
    FakeRenderStream stream(stereoFloat48k);
    std::thread ender([] {
        std::this_thread::sleep_for(50ms);
        silentRunning.exchange(false);
    });
    const auto before = std::chrono::steady_clock::now();
    runSilentKeepAlive(stream, *logger, 60s);
    ender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(stream.calls.back(), "start") << "no refill after the recording ended";
}

TEST_F(SilentKeepAliveTest, AnUnfedLoopRefillsNothing) {
    FakeRenderStream stream(stereoFloat48k);
    silentFeeding.exchange(false);
    std::thread ender([] {
        std::this_thread::sleep_for(30ms);
        silentRunning.exchange(false);
    });
    run(stream);
    ender.join();
    EXPECT_EQ(stream.calls.back(), "start");
}

}  // namespace audio_test
