#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mp4_files.h"
#include "platform/fragmented_mp4_reader.h"
#include "platform/video_file_finishing.h"

namespace screen_test {
namespace {

namespace fs = std::filesystem;
using fragment_builder::Layout;
using mp4_files::topLevelBoxes;

// Samples of fake media, sizes and durations all different, a sync sample every `gop`.
std::vector<fragment_builder::Sample> fakeSamples(size_t count, size_t gop) {
    std::vector<fragment_builder::Sample> samples;
    for (size_t i = 0; i < count; ++i) {
        samples.push_back({std::string(100 + i * 7 % 61, static_cast<char>('A' + i % 26)), static_cast<uint32_t>(330000 + i * 1013 % 7000),
                           i % gop == 0, 0});
    }
    return samples;
}

// The finished file's index, read back: every sample's bytes where it says, with the times given.
void expectIndexed(const fs::path& path, const std::vector<fragment_builder::Sample>& samples, bool ownDurations, size_t count) {
    RandomAccessFile file(path, RandomAccessFile::Mode::read);
    FragmentedMp4 index;
    ASSERT_EQ(readFragmentedMp4(file, index), "");
    ASSERT_EQ(index.samples.size(), count);
    int64_t time = 0;
    for (size_t i = 0; i < count; ++i) {
        const Mp4Sample& sample = index.samples[i];
        std::string data(sample.size, '\0');
        ASSERT_EQ(file.readAt(data.data(), data.size(), sample.offset), static_cast<int64_t>(data.size()));
        EXPECT_EQ(data, samples[i].data) << "sample " << i;
        EXPECT_EQ(sample.decodeTime, time) << "sample " << i;
        EXPECT_EQ(sample.sync, samples[i].sync) << "sample " << i;
        EXPECT_EQ(sample.compositionOffset, samples[i].compositionOffset) << "sample " << i;
        time += ownDurations ? samples[i].duration : samples[0].duration;
    }
}

// The layouts of FFmpeg's fragmenting muxer and Media Foundation's fragmented sink, and those
// of DASH packagers: data found from the moof, an explicit base or the previous track's data;
// durations, sizes and flags per sample or by default; with and without decode times.
TEST(FragmentIndex, EveryLayoutIsIndexedFromItsHeaders) {
    const mp4_files::Scratch scratch;
    const auto samples = fakeSamples(47, 10);
    for (const fragment_builder::NamedLayout& c : fragment_builder::writerLayouts()) {
        SCOPED_TRACE(c.name);
        const fs::path file = scratch.dir / "fragmented.mp4";
        const bool ownDurations = !c.layout.trexDefaults && !c.layout.tfhdDefaults;
        auto laidOut = samples;
        if (!ownDurations) {
            for (auto& sample : laidOut) sample.duration = samples[0].duration;
        }
        ASSERT_TRUE(mp4_files::writeBuilt(file, fragment_builder::build({}, laidOut, c.layout)));
        const VideoFinishResult result = finishVideoFile(file);
        ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
        EXPECT_EQ(topLevelBoxes(file), "ftyp mdat moov ");
        expectIndexed(file, laidOut, true, samples.size());
        EXPECT_EQ(finishVideoFile(file).outcome, VideoFinishResult::Outcome::alreadyOrdinary);
    }
}

// The writer knows the last sample's own duration; the runs only hold the nominal one.
TEST(FragmentIndex, TheLastSampleTakesTheWritersDurationAndTheTimesTheirGaps) {
    const mp4_files::Scratch scratch;
    auto samples = fakeSamples(20, 10);
    for (auto& sample : samples) sample.compositionOffset = sample.sync ? 0 : 666666;
    const fs::path file = scratch.dir / "fragmented.mp4";
    ASSERT_TRUE(mp4_files::writeBuilt(file, fragment_builder::build({}, samples, Layout{})));
    const VideoFinishResult result = finishVideoFile(file, 12345678);
    ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
    int64_t end = 0;
    for (size_t i = 0; i + 1 < samples.size(); ++i) end += samples[i].duration;
    // The first sample shows first; the last (with its offset) ends 1.2345678 s after it starts.
    EXPECT_NEAR(result.seconds, (end + 666666 + 12345678) / 1e7, 1e-7);
    expectIndexed(file, samples, true, samples.size());
}

// A process killed mid-fragment leaves a torn moof or a torn mdat: the complete samples before
// the cut stay, the torn header goes.
TEST(FragmentIndex, ATornLastFragmentIsCut) {
    const mp4_files::Scratch scratch;
    const auto samples = fakeSamples(30, 10);
    const fs::path file = scratch.dir / "fragmented.mp4";
    const std::string whole = fragment_builder::build({}, samples, Layout{}).head;
    const size_t lastMoof = whole.rfind("moof") - 4;
    const size_t lastData = whole.rfind("mdat") + 4;
    struct Cut {
        size_t at;
        size_t kept;
    };
    // The last fragment's third sample cut short by one byte.
    const size_t third = lastData + samples[20].data.size() + samples[21].data.size() + samples[22].data.size() - 1;
    for (const Cut& cut : {Cut{lastMoof + 50, 20}, Cut{lastData, 20}, Cut{third, 22}, Cut{whole.size() - 1, 29}}) {
        SCOPED_TRACE(cut.at);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << whole.substr(0, cut.at);
        const VideoFinishResult result = finishVideoFile(file);
        ASSERT_EQ(result.outcome, VideoFinishResult::Outcome::finished) << result.problem;
        EXPECT_EQ(topLevelBoxes(file), "ftyp mdat moov ");
        expectIndexed(file, samples, true, cut.kept);
        if (cut.at < lastData) {
            EXPECT_LT(fs::file_size(file), cut.at + 2000);
        }
    }
    std::ofstream(file, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.find("moof") + 20);
    EXPECT_EQ(finishVideoFile(file).problem, "cannot make the index: it holds no complete sample");
}

// Damaged headers never crash the host: each byte of the moov and the first moof in turn is
// changed, and finishing either indexes what it can read or says why it cannot.
TEST(FragmentIndex, DamagedHeadersAreRefusedOrReadAsFarAsTheyGo) {
    const mp4_files::Scratch scratch;
    Layout layout;
    layout.otherTrackFirst = true;
    const std::string whole = fragment_builder::build({}, fakeSamples(12, 4), layout).head;
    const size_t headersEnd = whole.find("mdat") + 4;
    const fs::path file = scratch.dir / "fragmented.mp4";
    int finished = 0;
    for (size_t at = 0; at < headersEnd; ++at) {
        {
            std::string damaged = whole;
            damaged[at] = static_cast<char>(at % 2 == 0 ? 0xFF : 0);
            std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
            const VideoFinishResult result = finishVideoFile(file, 333333);
            if (result.outcome == VideoFinishResult::Outcome::finished) {
                ++finished;
            } else if (result.outcome == VideoFinishResult::Outcome::failed) {
                EXPECT_FALSE(result.problem.empty());
            }
        }
    }
    EXPECT_GT(finished, 0);
}

}  // namespace
}  // namespace screen_test
