// A WAV track's header while it grows (what a killed process leaves) and mending it afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/wav_track_file.h"

namespace audio_test {

std::vector<uint8_t> fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

class WavTrackFileTest : public ::testing::Test {
protected:
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 (std::string("wav-track-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav");
    void TearDown() override { std::filesystem::remove(file); }
};

TEST_F(WavTrackFileTest, SizesAreCurrentWhileTheFileGrowsAndMendingAFinishedFileChangesNothing) {
    WavTrackFile track;
    ASSERT_EQ(track.open(file), MA_SUCCESS);
    const std::vector<int16_t> second(trackSampleRate, 100);
    ASSERT_EQ(ma_encoder_write_pcm_frames(track.encoder(), second.data(), second.size(), nullptr), MA_SUCCESS);
    ASSERT_EQ(ma_encoder_write_pcm_frames(track.encoder(), second.data(), 100, nullptr), MA_SUCCESS);

    // Still open, as a killed process leaves it: a second of audio is in the header and the file.
    std::vector<uint8_t> bytes = fileBytes(file);
    ASSERT_GE(bytes.size(), 44u + 32000u);
    EXPECT_EQ(le32(bytes, 40), 32000u);
    EXPECT_EQ(le32(bytes, 4), 36u + 32000u);

    track.close();
    bytes = fileBytes(file);
    EXPECT_EQ(le32(bytes, 40), 32200u);
    const WavMendResult mended = mendWavFile(file);
    EXPECT_TRUE(mended.valid);
    EXPECT_FALSE(mended.changed);
    EXPECT_DOUBLE_EQ(mended.seconds, 1.00625);
    EXPECT_EQ(fileBytes(file), bytes);
}

TEST_F(WavTrackFileTest, MendingStatesTheDataThereIsAndDropsATornSample) {
    {
        WavTrackFile track;
        ASSERT_EQ(track.open(file), MA_SUCCESS);
        const std::vector<int16_t> frames(8000, 7);
        ASSERT_EQ(ma_encoder_write_pcm_frames(track.encoder(), frames.data(), frames.size(), nullptr), MA_SUCCESS);
    }
    // More data than the header says, and half a sample at the end.
    std::ofstream(file, std::ios::binary | std::ios::app).write("\1\2\3", 3);
    const WavMendResult mended = mendWavFile(file);
    EXPECT_TRUE(mended.valid);
    EXPECT_TRUE(mended.changed);
    const std::vector<uint8_t> bytes = fileBytes(file);
    EXPECT_EQ(bytes.size(), 44u + 16002u);
    EXPECT_EQ(le32(bytes, 40), 16002u);
    EXPECT_EQ(le32(bytes, 4), 36u + 16002u);
}

// Past 4 GB (about 37 hours of the track format) the header states the most it can, which
// readers take as "to the end of the file"; mending leaves such a header as it is.
TEST_F(WavTrackFileTest, PastFourGigabytesTheSizesStateTheirMaximum) {
    {
        WavTrackFile track;
        ASSERT_EQ(track.open(file), MA_SUCCESS);
        const std::vector<int16_t> frames(8000, 7);
        ASSERT_EQ(ma_encoder_write_pcm_frames(track.encoder(), frames.data(), frames.size(), nullptr), MA_SUCCESS);
    }
    const uint64_t data = (uint64_t{1} << 32) + 32000;  // a hole in the file beyond the first half second
    std::filesystem::resize_file(file, 44 + data + 1);
    const WavMendResult mended = mendWavFile(file);
    EXPECT_TRUE(mended.valid);
    EXPECT_TRUE(mended.changed);
    EXPECT_TRUE(mended.pastSizeLimit);
    EXPECT_DOUBLE_EQ(mended.seconds, static_cast<double>(data) / 32000);
    EXPECT_EQ(std::filesystem::file_size(file), 44 + data);
    std::vector<uint8_t> header(44);
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(header.data()), 44);
    EXPECT_EQ(le32(header, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(header, 40), 0xFFFFFFFFu);
    const WavMendResult again = mendWavFile(file);
    EXPECT_TRUE(again.valid);
    EXPECT_FALSE(again.changed);
}

TEST_F(WavTrackFileTest, AFileThatIsNoWavIsReportedAndLeftAlone) {
    std::ofstream(file, std::ios::binary) << "not a wav at all";
    const WavMendResult mended = mendWavFile(file);
    EXPECT_FALSE(mended.valid);
    EXPECT_EQ(mended.problem, "no RIFF/WAVE data chunk");
    EXPECT_EQ(fileBytes(file).size(), 16u);
}

}  // namespace audio_test
