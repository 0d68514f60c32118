// The WAV track file: header completed on close, whether or not frames arrived.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_data_callback.h"
#include "audio/wav_track_file.h"

namespace audio_test {

std::vector<uint8_t> readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

class WavTrackFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("desktracks-wav-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(WavTrackFileTest, ATrackThatReceivedNothingIsAValidEmptyWav) {
    {
        WavTrackFile file;
        ASSERT_EQ(file.open(dir / "empty.wav"), MA_SUCCESS);
    }  // destroyed without an explicit close, as on a failed device
    const std::vector<uint8_t> bytes = readBytes(dir / "empty.wav");
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 36u);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "WAVE");
    EXPECT_EQ(le32(bytes, 24), 16000u);     // frames per second
    EXPECT_EQ(bytes[22], 1);                // channels
    EXPECT_EQ(bytes[34], 16);               // bits per sample
    EXPECT_EQ(le32(bytes, 40), 0u);         // data size
}

TEST_F(WavTrackFileTest, TheDataCallbackAppendsInputFramesOnly) {
    WavTrackFile file;
    ASSERT_EQ(file.open(dir / "frames.wav"), MA_SUCCESS);
    ma_device device{};
    device.pUserData = file.encoder();
    const std::vector<int16_t> frames(160, 1234);
    audioDataCallback(&device, nullptr, frames.data(), 160);
    audioDataCallback(&device, nullptr, nullptr, 160);  // a callback without input adds nothing
    ma_device noEncoder{};
    audioDataCallback(&noEncoder, nullptr, frames.data(), 160);
    file.close();

    const std::vector<uint8_t> bytes = readBytes(dir / "frames.wav");
    ASSERT_EQ(bytes.size(), 44u + 320);
    EXPECT_EQ(le32(bytes, 4), 36u + 320);
    EXPECT_EQ(le32(bytes, 40), 320u);
    EXPECT_EQ(bytes[44] | bytes[45] << 8, 1234);
}

TEST_F(WavTrackFileTest, AnUncreatableFileIsReported) {
    std::filesystem::create_directories(dir / "taken.wav");
    WavTrackFile file;
    EXPECT_NE(file.open(dir / "taken.wav"), MA_SUCCESS);
    EXPECT_FALSE(file.isOpen());
}

}  // namespace audio_test
