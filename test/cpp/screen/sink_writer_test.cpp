#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/video_writer.h"

namespace screen_test {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// The real platform writer on a temporary file.
class PlatformSinkWriter : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("desktracks-writer-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        file = dir / "output.mp4";
        media = createMediaPlatform();
        ASSERT_EQ(media->initializeThread(), hresult::ok);
        ASSERT_EQ(media->startup(), hresult::ok);
    }
    void TearDown() override {
        media->shutdown();
        media->uninitializeThread();
        fs::remove_all(dir);
    }

    HResult open(uint32_t width, uint32_t height, std::unique_ptr<SinkWriter>& writer) {
        SinkWriterAttributes attributes;
        attributes.enableHardwareTransforms = true;
        attributes.mpeg4Container = true;
        HResult result = media->createSinkWriter(file, attributes, writer);
        if (failed(result)) return result;
        VideoMediaType output;
        output.subtype = VideoSubtype::h264;
        output.averageBitrate = 2000000;
        output.width = width;
        output.height = height;
        output.frameRateNumerator = 30;
        output.progressive = true;
        uint32_t stream = 99;
        result = writer->addStream(output, stream);
        if (failed(result)) return result;
        VideoMediaType input = output;
        input.subtype = VideoSubtype::rgb32;
        result = writer->setInputMediaType(stream, input);
        if (failed(result)) return result;
        return writer->beginWriting();
    }

    // A bottom-up BGRA image: white in the top row, black elsewhere.
    HResult write(SinkWriter& writer, uint32_t width, uint32_t height, int64_t time, int64_t duration) {
        std::unique_ptr<VideoSample> sample;
        const uint32_t size = width * height * 4;
        auto image = std::make_shared<std::vector<uint8_t>>(size, 0);
        std::memset(image->data() + size_t(height - 1) * width * 4, 0xFF, size_t(width) * 4);
        HResult result = media->createSample(image, size, sample);
        if (failed(result)) return result;
        sample->setSampleTime(time);
        sample->setSampleDuration(duration);
        return writer.writeSample(0, std::move(sample));
    }

    std::string probe(const std::string& entries, const std::string& scope = "-show_entries") {
        return run("ffprobe -v error -select_streams v " + scope + " " + entries + " -of csv=p=0 '" + file.string() + "' 2>&1");
    }

    fs::path dir;
    fs::path file;
    std::unique_ptr<MediaPlatform> media;
};

TEST_F(PlatformSinkWriter, SampleTimesReachTheFileExactly) {
    std::unique_ptr<SinkWriter> writer;
    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    const int64_t times[] = {0, 333333, 500000, 1234567, 2000000};
    int64_t previous = 0;
    for (int64_t time : times) {
        ASSERT_EQ(write(*writer, 64, 48, time, time - previous), hresult::ok);
        previous = time;
    }
    ASSERT_EQ(writer->finalize(), hresult::ok);
    EXPECT_EQ(probe("stream=codec_name,width,height,nb_frames,time_base"), "h264,64,48,1/10000000,5\n");
    EXPECT_EQ(probe("packet=pts"), "0\n333333\n500000\n1234567\n2000000\n");
    EXPECT_EQ(writer->finalize(), hresult::invalidState);
}

TEST_F(PlatformSinkWriter, OddSizesLoseTheirLastColumnAndRow) {
    std::unique_ptr<SinkWriter> writer;
    ASSERT_EQ(open(65, 49, writer), hresult::ok);
    ASSERT_EQ(write(*writer, 65, 49, 0, 0), hresult::ok);
    ASSERT_EQ(write(*writer, 65, 49, 400000, 400000), hresult::ok);
    ASSERT_EQ(writer->finalize(), hresult::ok);
    EXPECT_EQ(probe("stream=width,height,nb_frames"), "64,48,2\n");
    // The top row (white) survives: the dropped row is the bottom one.
    const std::string topLuma =
        run("ffmpeg -v error -i '" + file.string() + "' -frames:v 1 -vf format=gray,crop=64:1:0:0 -f rawvideo - | od -An -tu1 -N1");
    EXPECT_GT(std::atoi(topLuma.c_str()), 200) << topLuma;
}

TEST_F(PlatformSinkWriter, NoSampleLeavesNoFile) {
    std::unique_ptr<SinkWriter> writer;
    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    EXPECT_EQ(writer->finalize(), hresult::noSamplesProcessed);
    EXPECT_FALSE(fs::exists(file));

    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    writer.reset();  // dropped unfinished
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(PlatformSinkWriter, DroppedWriterCompletesItsFile) {
    std::unique_ptr<SinkWriter> writer;
    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(write(*writer, 64, 48, i * 100000, i ? 100000 : 0), hresult::ok);
    writer.reset();
    EXPECT_EQ(probe("stream=nb_frames"), "3\n");
}

TEST_F(PlatformSinkWriter, RefusesWhatItCannotEncode) {
    std::unique_ptr<SinkWriter> writer;
    EXPECT_EQ(open(1, 48, writer), hresult::invalidArgument);
    writer.reset();
    EXPECT_FALSE(fs::exists(file));

    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    EXPECT_EQ(write(*writer, 32, 48, 0, 0), hresult::invalidArgument);  // sample smaller than the frame
    EXPECT_EQ(write(*writer, 64, 48, 0, 0), hresult::ok);
    EXPECT_EQ(writer->finalize(), hresult::ok);

    // Times that do not grow are nudged so the file stays valid.
    ASSERT_EQ(open(64, 48, writer), hresult::ok);
    EXPECT_EQ(write(*writer, 64, 48, 0, 0), hresult::ok);
    EXPECT_EQ(write(*writer, 64, 48, 0, 0), hresult::ok);
    EXPECT_EQ(writer->finalize(), hresult::ok);
    EXPECT_EQ(probe("packet=pts"), "0\n1\n");
}

TEST_F(PlatformSinkWriter, UnwritableFolderFailsAtBegin) {
    std::unique_ptr<SinkWriter> writer;
    file = dir / "missing" / "output.mp4";
    EXPECT_LT(open(64, 48, writer), 0);
}

}  // namespace
}  // namespace screen_test
