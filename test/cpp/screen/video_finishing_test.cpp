#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mp4_files.h"
#include "platform/fragmented_mp4_reader.h"
#include "platform/video_file_finishing.h"

namespace screen_test {
namespace {

namespace fs = std::filesystem;
using fragment_builder::Layout;
using mp4_files::decodedFrames;
using mp4_files::Scratch;
using test_support::commandOutput;

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

const std::string video = "-f lavfi -i testsrc2=size=320x240:rate=30 ";
const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
const std::string encode = "-t 3 -c:v libx264 -preset ultrafast -g 15 -video_track_timescale 10000000 ";

// FFmpeg's fragmenting muxer in all its layouts: whatever its flags, the finished file decodes
// to the same frames at the same times as the fragments did.
TEST(VideoFinishing, EveryFfmpegFragmentLayoutKeepsItsFrames) {
    Scratch scratch;
    const fs::path file = scratch.dir / "fragmented.mp4";
    struct Case {
        std::string inputs;
        std::string options;
    };
    const std::vector<Case> cases = {
        {video, "-bf 0 -frag_duration 1000000 -movflags frag_keyframe+empty_moov+default_base_moof"},
        {video, "-bf 0 -movflags frag_keyframe"},  // the first fragment's samples in the moov
        {video, "-bf 0 -movflags frag_keyframe+empty_moov"},  // explicit base offsets
        {video, "-bf 0 -movflags frag_keyframe+empty_moov+omit_tfhd_offset"},
        {video + audio, "-bf 0 -c:a aac -movflags frag_keyframe+empty_moov+omit_tfhd_offset"},  // two trafs
        {audio + video, "-bf 0 -c:a aac -movflags frag_keyframe+empty_moov+separate_moof"},
        {video, "-bf 0 -movflags frag_keyframe+empty_moov+default_base_moof+dash+global_sidx"},
        {video, "-bf 0 -movflags frag_every_frame+empty_moov+default_base_moof"},
        {video, "-bf 3 -movflags frag_keyframe+empty_moov+default_base_moof"},
        {video, "-bf 3 -movflags frag_keyframe+empty_moov+default_base_moof+negative_cts_offsets"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        run("ffmpeg -v error -y " + c.inputs + encode + c.options + " '" + file.string() + "'");
        const std::string frames = decodedFrames(file);
        ASSERT_EQ(lines(frames), 90u);
        const VideoFinishResult result = finishVideoFile(file);
        ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
        EXPECT_NEAR(result.seconds, 3.0, 0.07);
        EXPECT_EQ(decodedFrames(file), frames);
        EXPECT_EQ(commandOutput("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + file.string() + "'"), "video\n");
    }
}

struct RealSamples {
    fragment_builder::Track track;
    std::vector<fragment_builder::Sample> samples;
    std::string frames;
};

// H.264 samples and their description from an ordinary file FFmpeg writes.
RealSamples realSamples(const fs::path& dir, const std::string& options) {
    const fs::path ordinary = dir / "ordinary.mp4";
    RealSamples real;
    if (std::system(("ffmpeg -v error -y " + video + encode + options + " '" + ordinary.string() + "'").c_str()) != 0) return real;
    real.frames = decodedFrames(ordinary);
    RandomAccessFile file(ordinary, RandomAccessFile::Mode::read);
    FragmentedMp4 movie;
    if (!readFragmentedMp4(file, movie).empty()) return real;
    const std::string moov(movie.movie.begin(), movie.movie.end());
    const size_t stsd = moov.find("stsd") - 4;
    real.track.sampleDescription = moov.substr(stsd, readBigEndian(movie.movie.data() + stsd, 4));
    for (size_t i = 0; i < movie.samples.size(); ++i) {
        const Mp4Sample& sample = movie.samples[i];
        std::string data(sample.size, '\0');
        file.readAt(data.data(), data.size(), sample.offset);
        const uint32_t duration = i + 1 < movie.samples.size() ? static_cast<uint32_t>(movie.samples[i + 1].decodeTime - sample.decodeTime)
                                                                : sample.duration;
        real.samples.push_back({data, duration, sample.sync, sample.compositionOffset});
    }
    return real;
}

// Media Foundation's fragmented sink and DASH packagers lay fragments out unlike FFmpeg; built
// here from real H.264 samples, each layout decodes to the frames of the ordinary file.
TEST(VideoFinishing, MediaFoundationAndDashLayoutsKeepTheirFrames) {
    Scratch scratch;
    const RealSamples real = realSamples(scratch.dir, "-bf 0");
    ASSERT_EQ(real.samples.size(), 90u);
    const fs::path file = scratch.dir / "fragmented.mp4";
    for (fragment_builder::NamedLayout& c : fragment_builder::writerLayouts()) {
        SCOPED_TRACE(c.name);
        Layout& layout = c.layout;
        layout.samplesPerFragment = 15;  // a fragment per group of pictures
        std::ofstream(file, std::ios::binary | std::ios::trunc) << fragment_builder::build(real.track, real.samples, layout).head;
        const VideoFinishResult result = finishVideoFile(file);
        ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
        EXPECT_EQ(decodedFrames(file), real.frames);
    }
}

// Past 4 GB (a hole in the file between the first fragment and the others): 64-bit chunk offsets
// and media size, and the same frames.
TEST(VideoFinishing, AFileOverFourGigabytesKeepsItsFrames) {
    Scratch scratch;
    const RealSamples real = realSamples(scratch.dir, "-bf 0");
    ASSERT_EQ(real.samples.size(), 90u);
    Layout layout;
    layout.samplesPerFragment = 15;
    layout.gapAfterFirstFragment = (uint64_t{1} << 32) + 4096;
    const fs::path file = scratch.dir / "fragmented.mp4";
    ASSERT_TRUE(mp4_files::writeBuilt(file, fragment_builder::build(real.track, real.samples, layout)));
    const VideoFinishResult result = finishVideoFile(file, 333333);
    ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
    EXPECT_NEAR(result.seconds, 3.0, 1e-6);
    EXPECT_EQ(decodedFrames(file), real.frames);
    EXPECT_EQ(mp4_files::topLevelBoxes(file), "ftyp mdat64 moov ");
    EXPECT_NE(commandOutput("grep -c co64 '" + file.string() + "'"), "0\n");
}

}  // namespace
}  // namespace screen_test
