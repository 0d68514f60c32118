// The PulseAudio render stream against the null sink of scripts/test-services.sh; skipped when
// PULSE_SERVER is not set.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/silent_render_stream.h"

namespace audio_test {

TEST(PulseStreamsTest, TheSilentStreamPlaysItsQueueOffAndRefusesToOverfill) {
    if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "needs the test services' PulseAudio";
    auto stream = makeSilentRenderStream();
    StreamMixFormat format;
    ASSERT_EQ(stream->createEnumerator(), 0);
    ASSERT_EQ(stream->openDefaultEndpoint(), 0);
    ASSERT_EQ(stream->activateClient(), 0);
    ASSERT_EQ(stream->getMixFormat(format), 0);
    // The null sink's own format: 2 channels, s16 on PulseAudio and f32 on PipeWire, 44.1 or 48 kHz.
    EXPECT_TRUE(format.framesPerSecond == 44100u || format.framesPerSecond == 48000u) << format.framesPerSecond;
    EXPECT_EQ(format.channels, 2);
    EXPECT_TRUE(format.bitsPerSample == 16 || format.bitsPerSample == 32) << format.bitsPerSample;
    ASSERT_EQ(stream->initialize(10000000), 0);
    ASSERT_EQ(stream->getRenderClient(), 0);

    const uint32_t second = format.framesPerSecond;
    uint8_t* data = nullptr;
    EXPECT_TRUE(streamFailed(stream->getBuffer(second + 1, &data))) << "more than the buffer holds";
    ASSERT_EQ(stream->getBuffer(second, &data), 0);
    std::memset(data, 0, size_t{second} * format.channels * format.bitsPerSample / 8);
    ASSERT_EQ(stream->releaseBufferSilent(second), 0);
    uint32_t padding = 0;
    ASSERT_EQ(stream->currentPadding(padding), 0);
    EXPECT_EQ(padding, second);
    EXPECT_TRUE(streamFailed(stream->getBuffer(1, &data))) << "the queue is full";

    ASSERT_EQ(stream->start(), 0);
    for (int i = 0; i < 500 && padding == second; ++i) {  // playing drains the queue
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(stream->currentPadding(padding), 0);
    }
    ASSERT_LT(padding, second);
    ASSERT_EQ(stream->getBuffer(second - padding, &data), 0);
    EXPECT_EQ(stream->releaseBufferSilent(second - padding), 0);
}

}  // namespace audio_test
