// The Linux audio pieces against the PulseAudio server of scripts/test-services.sh (default sink
// "speaker"); skipped when PULSE_SERVER is not set.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/silent_render_stream.h"
#include "platform/system_audio_source.h"

namespace audio_test {

class PulseStreamsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "needs the test services' PulseAudio";
    }
};

TEST_F(PulseStreamsTest, SystemAudioIsTheDefaultSinksMonitor) {
    const auto source = findSystemAudioSource();
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->deviceType, ma_device_type_capture);
    EXPECT_EQ(source->backend, ma_backend_pulseaudio);
    ASSERT_TRUE(source->captureDeviceId.has_value());
    EXPECT_STREQ(source->captureDeviceId->pulse, "speaker.monitor");
}

TEST_F(PulseStreamsTest, TheSilentStreamPlaysItsQueueOffAndRefusesToOverfill) {
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

    uint8_t* data = nullptr;
    EXPECT_TRUE(streamFailed(stream->getBuffer(format.framesPerSecond + 1, &data))) << "more than the buffer holds";
    ASSERT_EQ(stream->getBuffer(format.framesPerSecond, &data), 0);
    ASSERT_NE(data, nullptr);
    std::memset(data, 0, size_t{format.framesPerSecond} * format.channels * format.bitsPerSample / 8);
    ASSERT_EQ(stream->releaseBufferSilent(format.framesPerSecond), 0);

    uint32_t padding = 0;
    ASSERT_EQ(stream->currentPadding(padding), 0);
    EXPECT_EQ(padding, format.framesPerSecond);
    EXPECT_TRUE(streamFailed(stream->getBuffer(1, &data))) << "the queue is full";

    ASSERT_EQ(stream->start(), 0);
    // Playing drains the queue; poll generously rather than time it.
    for (int i = 0; i < 500 && padding == format.framesPerSecond; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(stream->currentPadding(padding), 0);
    }
    EXPECT_LT(padding, format.framesPerSecond);
    const uint32_t room = format.framesPerSecond - padding;
    ASSERT_EQ(stream->getBuffer(room, &data), 0);
    EXPECT_EQ(stream->releaseBufferSilent(room), 0);
}

}  // namespace audio_test
