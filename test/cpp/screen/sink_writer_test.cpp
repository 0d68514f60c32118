#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "mp4_files.h"
#include "platform/video_file_finishing.h"
#include "platform/video_writer.h"

namespace screen_test {
namespace {

namespace fs = std::filesystem;

using mp4_files::decodedFrames;
using mp4_files::Scratch;
using test_support::commandOutput;

// While it lives, a write past `bytes` fails (EFBIG) as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit limit = before;
        limit.rlim_cur = bytes;
        applied = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, handler);
    }
    bool applied = false;

private:
    rlimit before{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
};

// The real writer, fed an odd-sized image (white top row, black below) at uneven times: the file
// keeps the times exactly and tells tools the nominal rate.
TEST(PlatformSinkWriter, WritesAnMp4WithTheExactTimesAtTheEvenSizeBelow) {
    const Scratch scratch;
    const fs::path file = scratch.dir / "output.mp4";
    const std::unique_ptr<MediaPlatform> media = createMediaPlatform();
    ASSERT_EQ(media->initializeThread(), hresult::ok);
    ASSERT_EQ(media->startup(), hresult::ok);

    std::unique_ptr<SinkWriter> writer;
    ASSERT_EQ(media->createSinkWriter(file, SinkWriterAttributes{true, true}, writer), hresult::ok);
    VideoMediaType type{VideoSubtype::h264, 2000000, 65, 49, 30, 1, 1, 1, true};
    uint32_t stream = 99;
    ASSERT_EQ(writer->addStream(type, stream), hresult::ok);
    type.subtype = VideoSubtype::rgb32;
    ASSERT_EQ(writer->setInputMediaType(stream, type), hresult::ok);
    ASSERT_EQ(writer->beginWriting(), hresult::ok);

    const uint32_t size = 65 * 49 * 4;
    auto image = std::make_shared<std::vector<uint8_t>>(size, 0);
    std::memset(image->data() + 48 * 65 * 4, 0xFF, 65 * 4);  // the last row in memory is the top one
    // Uneven times, then two seconds of passes 12 to 45 ms apart, as a loaded machine makes them.
    std::vector<int64_t> times = {0, 333333, 500000, 1234567, 2000000};
    for (int i = 0; i < 70; ++i) times.push_back(times.back() + 120000 + (i * 7919 % 11) * 30000);
    int64_t previous = 0;
    for (int64_t time : times) {
        std::unique_ptr<VideoSample> sample;
        ASSERT_EQ(media->createSample(image, size, sample), hresult::ok);
        sample->setSampleTime(time);
        sample->setSampleDuration(time - previous);
        previous = time;
        ASSERT_EQ(writer->writeSample(stream, std::move(sample)), hresult::ok);
    }
    ASSERT_EQ(writer->finalize(), hresult::ok);
    writer.reset();
    media->shutdown();
    media->uninitializeThread();

    const std::string quoted = " '" + file.string() + "'";
    const std::string probe = "ffprobe -v error -select_streams v -of csv=p=0" + quoted + " -show_entries ";
    EXPECT_EQ(commandOutput(probe + "stream=codec_name,width,height,r_frame_rate,nb_frames,time_base"), "h264,64,48,30/1,1/10000000,75\n");
    std::string expected;
    for (size_t i = 0; i < times.size(); ++i) {
        // The muxer times every sample up to the next one; the last one lasts its own duration.
        const int64_t duration = i + 1 < times.size() ? times[i + 1] - times[i] : times[i] - times[i - 1];
        expected += std::to_string(times[i]) + "," + std::to_string(duration) + "\n";
    }
    EXPECT_EQ(commandOutput(probe + "packet=pts,duration"), expected);
    // The top row survives: the row dropped for the even size is the bottom one.
    const std::string topLuma =
        commandOutput("ffmpeg -v error -i" + quoted + " -frames:v 1 -vf format=gray,crop=64:1:0:0 -f rawvideo - | od -An -tu1 -N1");
    EXPECT_GT(std::atoi(topLuma.c_str()), 200) << topLuma;
}

// One second of 30 samples of noise (which x264 cannot squeeze) per `seconds`, through the real
// writer; finalize's result.
class NoiseWriter {
public:
    explicit NoiseWriter(const fs::path& path) : file(path) {
        EXPECT_EQ(media->initializeThread(), hresult::ok);
        EXPECT_EQ(media->startup(), hresult::ok);
        EXPECT_EQ(media->createSinkWriter(file, SinkWriterAttributes{true, true}, writer), hresult::ok);
        VideoMediaType type{VideoSubtype::h264, 4000000, 64, 48, 30, 1, 1, 1, true};
        EXPECT_EQ(writer->addStream(type, stream), hresult::ok);
        type.subtype = VideoSubtype::rgb32;
        EXPECT_EQ(writer->setInputMediaType(stream, type), hresult::ok);
        EXPECT_EQ(writer->beginWriting(), hresult::ok);
    }
    ~NoiseWriter() {
        writer.reset();
        media->shutdown();
        media->uninitializeThread();
    }
    // Samples until `count` or the first the writer refuses; how many it took.
    int write(int count) {
        std::mt19937 noise(7);
        for (int i = 0; i < count; ++i) {
            auto image = std::make_shared<std::vector<uint8_t>>(size);
            for (uint8_t& byte : *image) byte = static_cast<uint8_t>(noise());
            std::unique_ptr<VideoSample> sample;
            EXPECT_EQ(media->createSample(image, size, sample), hresult::ok);
            sample->setSampleTime(i * 333333ll);
            sample->setSampleDuration(i == 0 ? 0 : 333333);
            if (failed(writer->writeSample(stream, std::move(sample)))) return i;
        }
        return count;
    }

    const fs::path file;
    const std::unique_ptr<MediaPlatform> media = createMediaPlatform();
    std::unique_ptr<SinkWriter> writer;
    uint32_t stream = 0;
    static constexpr uint32_t size = 64 * 48 * 4;
};

double probedSeconds(const fs::path& file) {
    return std::atof(commandOutput("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file.string() + "'").c_str());
}

// A write that fails (here the process's file size limit; a full disk alike) ends the track: the
// writer names the reason, and the file plays up to its last complete fragment.
TEST(PlatformSinkWriter, AFailedWriteIsNamedAndTheFileKeepsWhatWasWritten) {
    const Scratch scratch;
    NoiseWriter noise(scratch.dir / "output.mp4");
    int taken = 0;
    HResult finalized = hresult::ok;
    {
        const FileSizeLimit full(200 * 1024);
        ASSERT_TRUE(full.applied);
        taken = noise.write(300);
        finalized = noise.writer->finalize();
    }

    EXPECT_LT(taken, 300);
    EXPECT_TRUE(failed(finalized));
    EXPECT_EQ(noise.writer->writeFailure(), "File too large");
    EXPECT_EQ(videoWriteFailureLine(*noise.writer, "output.mp4"),
              "output.mp4 could not be written to the end (File too large); it holds the video up to the failure");
    // The samples taken after the last complete fragment are lost, at most about a second of them.
    const double seconds = probedSeconds(noise.file);
    EXPECT_GT(seconds, 1.0);
    EXPECT_GT(seconds, taken / 30.0 - 2.0);
    EXPECT_LE(seconds, taken / 30.0 + 0.01);
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Finishing writes only an index after the fragments and turns what lies before it into media
// data: the frames and their times stay, every step leaves a file that plays, and one that cannot
// be written leaves the file as it was. (A torn last fragment: FragmentIndex.ATornLastFragmentIsCut.)
TEST(VideoFileFinishing, IndexesTheFragmentsInPlaceAndLeavesThemWhenItCannot) {
    const Scratch scratch;
    const fs::path fragmented = scratch.dir / "fragmented.mp4";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30 -t 4 -c:v libx264 -preset ultrafast -bf 0 "
                           "-video_track_timescale 10000000 -movflags frag_keyframe+empty_moov+default_base_moof "
                           "-frag_duration 1000000 '" + fragmented.string() + "'").c_str()), 0);
    const std::string frames = decodedFrames(fragmented);
    ASSERT_EQ(std::count(frames.begin(), frames.end(), '\n'), 120);
    const std::string original = fileBytes(fragmented);

    // No room for the index (here the file size limit; a full disk alike).
    VideoFinishResult refused;
    {
        const FileSizeLimit full(original.size());
        ASSERT_TRUE(full.applied);
        refused = finishVideoFile(fragmented);
    }
    EXPECT_EQ(refused.outcome, VideoFinishResult::Outcome::failed);
    EXPECT_EQ(refused.problem, "cannot write the index: File too large");
    EXPECT_TRUE(fileBytes(fragmented) == original);

    const VideoFinishResult finished = finishVideoFile(fragmented);
    EXPECT_EQ(finished.outcome, VideoFinishResult::Outcome::finished) << finished.problem;
    EXPECT_NEAR(finished.seconds, 4.0, 0.001);
    EXPECT_EQ(mp4_files::topLevelBoxes(fragmented), "ftyp mdat moov ");
    EXPECT_EQ(decodedFrames(fragmented), frames);
    EXPECT_EQ(finishVideoFile(fragmented).outcome, VideoFinishResult::Outcome::alreadyOrdinary);

    // A process that died between the last two steps left the fragmented moov and the new index
    // both in place: the file plays as it was, and finishing again completes it.
    std::string between = fileBytes(fragmented);
    const size_t ftypSize = static_cast<uint8_t>(original[3]) | static_cast<uint8_t>(original[2]) << 8;
    between.replace(ftypSize, 8, original.substr(ftypSize, 8));
    std::ofstream(fragmented, std::ios::binary | std::ios::trunc) << between;
    EXPECT_EQ(decodedFrames(fragmented), frames);
    EXPECT_EQ(finishVideoFile(fragmented).outcome, VideoFinishResult::Outcome::finished);
    EXPECT_EQ(mp4_files::topLevelBoxes(fragmented), "ftyp mdat moov ");
    EXPECT_EQ(decodedFrames(fragmented), frames);

}

// The lines a recorder logs for its file: one error line, and a finishing failure after a write
// failure only as a warning.
TEST(VideoFileLines, OneErrorLinePerFile) {
    struct Reporting : SinkWriter {
        std::string write, finish;
        HResult addStream(const VideoMediaType&, uint32_t&) override { return hresult::ok; }
        HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::ok; }
        HResult beginWriting() override { return hresult::ok; }
        HResult writeSample(uint32_t, std::unique_ptr<VideoSample>) override { return hresult::ok; }
        HResult finalize() override { return hresult::ok; }
        std::string writeFailure() const override { return write; }
        std::string finishFailure() const override { return finish; }
    } writer;
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", false).error, "");
    writer.finish = "cannot write the index: No space left on device";
    const std::string unfinished = "webcam.mp4 could not be made an ordinary MP4 (cannot write the index: No space left on device); "
                                   "it stays as written while recording, which plays, and recover can finish it";
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", false).error, unfinished);
    writer.write = "No space left on device";
    const std::string notWritten = "webcam.mp4 could not be written to the end (No space left on device); it holds the video up to the failure";
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", false).error, notWritten);
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", false).warning, unfinished);
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", true).error, "");
    EXPECT_EQ(videoFileLines(writer, "webcam.mp4", true).warning, unfinished);
}

}  // namespace
}  // namespace screen_test
