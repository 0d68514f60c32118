// The keep-alive's set-up and refill loop against a render stream that fails on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "audio/silent_keep_alive.h"
#include "run_flags.h"

namespace audio_test {

// A 48 kHz stereo float32 output with `padding` frames queued; records every call with its frame
// count, fails the call at position failAt and ends the recording during the paddingQueries-th
// padding query.
class FakeRenderStream : public SilentRenderStream {
public:
    size_t failAt = SIZE_MAX;
    uint32_t padding = 24000;
    int paddingQueries = 2;
    std::vector<std::string> calls;
    std::vector<uint8_t> memory;

    StreamStatus createEnumerator() override { return call("createEnumerator"); }
    StreamStatus openDefaultEndpoint() override { return call("openDefaultEndpoint"); }
    StreamStatus activateClient() override { return call("activateClient"); }
    StreamStatus getMixFormat(StreamMixFormat& format) override {
        format = {48000, 2, 32};
        return call("getMixFormat");
    }
    StreamStatus initialize(int64_t duration) override { return call("initialize " + std::to_string(duration)); }
    StreamStatus getRenderClient() override { return call("getRenderClient"); }
    StreamStatus getBuffer(uint32_t frames, uint8_t** data) override {
        memory.assign(size_t{frames} * 8 + 16, 0xAB);
        *data = memory.data();
        return call("getBuffer " + std::to_string(frames));
    }
    StreamStatus releaseBufferSilent(uint32_t frames) override { return call("releaseBuffer " + std::to_string(frames)); }
    StreamStatus start() override { return call("start"); }
    StreamStatus currentPadding(uint32_t& frames) override {
        if (--paddingQueries <= 0) silentRunning.exchange(false);
        frames = padding;
        return call("currentPadding");
    }

private:
    StreamStatus call(std::string name) {
        calls.push_back(std::move(name));
        return calls.size() - 1 == failAt ? -2147467259 /* E_FAIL */ : 0;
    }
};

class SilentKeepAliveTest : public ::testing::Test {
protected:
    SilentKeepAliveTest() { silentFeeding.exchange(true); }
    ~SilentKeepAliveTest() override { silentRunning.exchange(false); silentFeeding.exchange(false); }

    // Runs a recording's keep-alive (the fake ends it) and puts the log's lines in `logged`.
    StreamStatus run(FakeRenderStream& stream) {
        return logLines([&] { return runSilentKeepAlive(stream, *logger, std::chrono::milliseconds(1)); });
    }

    template <typename Run>
    StreamStatus logLines(Run keepAlive) {
        lines.str("");
        // "\n" line ends on Windows too, where spdlog's default is "\r\n".
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>("%l %v", spdlog::pattern_time_type::local, "\n"));
        silentRunning.exchange(true);
        const StreamStatus status = keepAlive();
        logged.clear();
        std::istringstream in(lines.str());
        for (std::string line; std::getline(in, line);) logged.push_back(line);
        return status;
    }

    std::ostringstream lines;
    std::vector<std::string> logged;
    std::shared_ptr<spdlog::logger> logger =
        std::make_shared<spdlog::logger>("silent_test", std::make_shared<spdlog::sinks::ostream_sink_st>(lines));
};

const std::vector<std::string> fullSetUpLog = {
    "info silent: GetDefaultAudioEndpoint success", "info silent: Activate success",
    "info silent: Initialize success",              "info silent: GetService success",
    "info silent: GetBuffer success",               "info silent: ReleaseBuffer success",
    "info silent: Start success",
};
const std::vector<std::string> setUpCalls = {
    "createEnumerator", "openDefaultEndpoint", "activateClient", "getMixFormat", "initialize 10000000",
    "getRenderClient",  "getBuffer 48000",     "releaseBuffer 48000", "start",
};

TEST_F(SilentKeepAliveTest, QueuesOneSecondThenTopsTheQueueUpWithZerosEachCycle) {
    FakeRenderStream stream;
    EXPECT_FALSE(streamFailed(run(stream)));
    EXPECT_EQ(logged, fullSetUpLog);
    std::vector<std::string> expected = setUpCalls;
    for (int cycle = 0; cycle < 2; ++cycle)
        expected.insert(expected.end(), {"currentPadding", "getBuffer 24000", "releaseBuffer 24000"});
    EXPECT_EQ(stream.calls, expected);
    // 24000 frames of 2 x 32-bit samples: 192000 bytes zeroed, nothing past them touched.
    ASSERT_EQ(stream.memory.size(), 192000u + 16);
    EXPECT_EQ(std::count(stream.memory.begin(), stream.memory.begin() + 192000, 0), 192000);
    EXPECT_EQ(std::count(stream.memory.begin() + 192000, stream.memory.end(), 0xAB), 16);

    FakeRenderStream full;
    full.padding = 48000;
    run(full);
    EXPECT_EQ(full.calls.size(), setUpCalls.size() + 2) << "a full queue is only queried";
}

TEST_F(SilentKeepAliveTest, AFailedCallEndsItAndOnlyARenderClientLeadsIntoTheLoop) {
    // Calls 0-8 are the set-up, 9 and 10 the first refill's padding query and buffer. A set-up
    // failure that ends the keep-alive before the loop names its step.
    const struct { size_t failAt, successesLogged; const char* error; } cases[] = {
        {0, 0, "error silent: CoCreateInstance failed: 0x80004005"},
        {1, 0, "error silent: GetDefaultAudioEndpoint failed: 0x80004005"},
        {2, 1, "error silent: Activate failed: 0x80004005"},
        {3, 2, "error silent: GetMixFormat failed: 0x80004005"},
        {4, 2, "error silent: Initialize failed: 0x80004005"},
        {5, 3, "error silent: GetService failed: 0x80004005"},
        {6, 4, nullptr}, {7, 5, nullptr}, {8, 6, nullptr},
        {9, 7, "error silent: GetCurrentPadding failed"}, {10, 7, "error silent: GetBuffer failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        FakeRenderStream stream;
        stream.failAt = c.failAt;
        EXPECT_EQ(streamFailed(run(stream)), c.failAt < setUpCalls.size());

        std::vector<std::string> expected(fullSetUpLog.begin(), fullSetUpLog.begin() + c.successesLogged);
        if (c.error != nullptr) expected.push_back(c.error);
        EXPECT_EQ(logged, expected);
        // The loop needs the mix format and the render client (call 5); a failed loop call is
        // the last call (a failed buffer is not released) and ends the loop on its own.
        const bool refilled = c.failAt > 5 && c.failAt < setUpCalls.size();
        EXPECT_EQ(stream.calls.size() > c.failAt + 1, refilled);
        EXPECT_TRUE(c.failAt < 9 || silentRunning.load()) << "a loop failure ends the keep-alive on its own";
    }
}

TEST_F(SilentKeepAliveTest, WithoutASoundServerTheFailureIsOnePlainLineNotAStatusCode) {
    class NoServerStream : public FakeRenderStream {
    public:
        std::string noSoundServerReason() const override { return "no sound server could be reached; no silence is played"; }
    };
    NoServerStream stream;
    stream.failAt = 2;
    EXPECT_TRUE(streamFailed(run(stream)));
    const std::vector<std::string> expected = {"info silent: GetDefaultAudioEndpoint success",
                                               "error silent: no sound server could be reached; no silence is played"};
    EXPECT_EQ(logged, expected);
}

TEST_F(SilentKeepAliveTest, AnOutputLostDuringTheRecordingIsSetUpAgainUntilItPlays) {
    // The output goes away (a refill fails), is missing for one attempt (the first set-up call
    // fails), then plays again until the recording ends.
    std::vector<std::unique_ptr<FakeRenderStream>> made;
    const auto makeStream = [&]() -> std::unique_ptr<SilentRenderStream> {
        auto stream = std::make_unique<FakeRenderStream>();
        stream->failAt = made.size() == 0 ? 9 : made.size() == 1 ? 0 : SIZE_MAX;
        stream->paddingQueries = made.size() == 2 ? 2 : 100;
        made.push_back(nullptr);
        return stream;
    };
    const StreamStatus status =
        logLines([&] { return keepSilencePlaying(makeStream, *logger, std::chrono::milliseconds(1), std::chrono::milliseconds(1)); });
    EXPECT_FALSE(streamFailed(status)) << "the first set-up's status";
    EXPECT_EQ(made.size(), 3u);
    std::vector<std::string> expected = fullSetUpLog;
    expected.insert(expected.end(), {"error silent: GetCurrentPadding failed", "info silent: setting the stream up again about once a second",
                                     "info silent: the output is back; playing silence again"});
    EXPECT_EQ(logged, expected) << "the attempts while it is missing log nothing";
}

}  // namespace audio_test
