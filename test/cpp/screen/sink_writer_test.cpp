#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

}  // namespace
}  // namespace screen_test
