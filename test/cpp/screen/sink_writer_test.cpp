#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/command_output.h"
#include "platform/video_writer.h"

namespace screen_test {
namespace {

namespace fs = std::filesystem;

using test_support::commandOutput;

// The real writer, fed an odd-sized image (white top row, black below) at uneven times: the file
// keeps the times exactly and tells tools the nominal rate.
TEST(PlatformSinkWriter, WritesAnMp4WithTheExactTimesAtTheEvenSizeBelow) {
    const fs::path dir = fs::temp_directory_path() / ("desktracks-writer-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "output.mp4";
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
    fs::remove_all(dir);
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

std::string topLevelBoxes(const fs::path& file) {
    return commandOutput("python3 -c \"import struct,sys\nf=open(sys.argv[1],'rb')\nwhile True:\n h=f.read(8)\n"
                         " if len(h)<8: break\n n,t=struct.unpack('>I4s',h); print(t.decode(),end=' ')\n if n<8: break\n"
                         " f.seek(n-8,1)\" '" + file.string() + "'");
}

// A write that fails (here the process's file size limit; a full disk alike) ends the track: the
// writer names the reason, and the file plays up to its last complete fragment.
TEST(PlatformSinkWriter, AFailedWriteIsNamedAndTheFileKeepsWhatWasWritten) {
    const fs::path dir = fs::temp_directory_path() / ("desktracks-writer-full-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    NoiseWriter noise(dir / "output.mp4");
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 200 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int taken = noise.write(300);
    const HResult finalized = noise.writer->finalize();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

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
    fs::remove_all(dir);
}

// When the copy into an ordinary file cannot be made, the file stays as written while recording:
// fragmented, every sample in it, and the writer says why.
TEST(PlatformSinkWriter, AFinishingThatFailsLeavesTheFragmentedFileWhole) {
    const fs::path dir = fs::temp_directory_path() / ("desktracks-writer-unfinished-" + std::to_string(::getpid()));
    fs::create_directories(dir / "output.mp4.finishing" / "blocked");  // the copy's name is taken
    NoiseWriter noise(dir / "output.mp4");
    EXPECT_EQ(noise.write(90), 90);
    EXPECT_TRUE(failed(noise.writer->finalize()));

    EXPECT_EQ(noise.writer->writeFailure(), "");
    EXPECT_NE(noise.writer->finishFailure(), "");
    const VideoFileLines lines = videoFileLines(*noise.writer, "output.mp4", false);
    EXPECT_EQ(lines.error.rfind("output.mp4 could not be made an ordinary MP4 (", 0), 0u) << lines.error;
    EXPECT_EQ(lines.warning, "");
    EXPECT_NE(topLevelBoxes(noise.file).find("moof"), std::string::npos);
    EXPECT_NEAR(probedSeconds(noise.file), 3.0, 0.05);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace screen_test
