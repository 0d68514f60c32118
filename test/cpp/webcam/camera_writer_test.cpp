#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/camera.h"
#include "common/command_output.h"
#include "platform/video_writer.h"

namespace webcam_test {
namespace {

namespace fs = std::filesystem;

using test_support::commandOutput;

constexpr int width = 64, height = 48;
struct Rgb {
    int r, g, b;
};
// Left half yellow, right half blue: a swap of R and B, or of U and V, shows in either half.
const Rgb left{200, 200, 40}, right{40, 60, 200};
Rgb at(int x) { return x < width / 2 ? left : right; }

// Writes the test picture in each camera layout, dir/<name>, converted from RGB by one FFmpeg run
// (`output` names the layout; BT.601 limited range for YUV).
template <class Layouts>
void writeLayouts(const fs::path& dir, const Layouts& layouts) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rgb.insert(rgb.end(), {uint8_t(at(x).r), uint8_t(at(x).g), uint8_t(at(x).b)});
    std::ofstream(dir / "in.rgb", std::ios::binary).write(reinterpret_cast<const char*>(rgb.data()), rgb.size());
    std::string outputs;
    for (const auto& [name, subtype, output] : layouts) outputs += std::string(" -frames:v 1 ") + output + " '" + (dir / name).string() + "'";
    commandOutput("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 64x48 -i '" + (dir / "in.rgb").string() + "'" + outputs);
}

std::vector<uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct CameraType : CameraMediaType {
    explicit CameraType(MediaGuid subtype) : guid(subtype) {}
    HResult subtype(MediaGuid& value) override { return value = guid, hresult::ok; }
    HResult frameSize(uint32_t& w, uint32_t& h) override { return w = width, h = height, hresult::ok; }
    HResult frameRate(uint32_t& numerator, uint32_t& denominator) override {
        return numerator = 30, denominator = 1, hresult::ok;
    }
    MediaGuid guid;
};

// The platform's camera writer fed synthetic frames of each layout at uneven arrival times.
TEST(CameraWriter, EncodesEveryCameraLayoutToH264MainWithTheSampleTimes) {
    const fs::path dir = fs::temp_directory_path() / ("desktracks-camera-writer-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::unique_ptr<CameraPlatform> camera = createCameraPlatform();
    const std::unique_ptr<MediaPlatform> media = createMediaPlatform();
    const std::tuple<const char*, MediaGuid, const char*> layouts[] = {
        {"YUY2", mediaSubtype::yuy2, "-pix_fmt yuyv422 -f rawvideo"},
        {"UYVY", mediaSubtype::uyvy, "-pix_fmt uyvy422 -f rawvideo"},
        {"NV12", mediaSubtype::nv12, "-pix_fmt nv12 -f rawvideo"},
        {"I420", mediaSubtype::i420, "-pix_fmt yuv420p -f rawvideo"},
        {"YV12", mediaSubtype::yv12, "-pix_fmt yuv420p -f rawvideo"},
        {"RGB24", mediaSubtype::rgb24, "-pix_fmt bgr24 -f rawvideo"},  // bytes B, G, R
        {"RGB3", mediaSubtype::rawRgb24, "-pix_fmt rgb24 -f rawvideo"},
        {"MJPG", mediaSubtype::mjpg, "-q:v 2 -f mjpeg"},
    };
    writeLayouts(dir, layouts);
    for (const auto& [name, subtype, output] : layouts) {
        SCOPED_TRACE(name);
        const fs::path file = dir / (std::string(name) + ".mp4");
        CameraType type(subtype);
        std::unique_ptr<SinkWriter> writer;
        uint32_t stream = 99;
        WebcamWriterStep step = WebcamWriterStep::createAttributes;
        ASSERT_EQ(camera->createWriter(file, type, writer, stream, step), hresult::ok);

        const auto image = std::make_shared<std::vector<uint8_t>>(readFile(dir / name));
        if (subtype == mediaSubtype::yv12) {  // I420 with its chroma planes swapped
            const auto u = image->begin() + width * height, v = u + width * height / 4;
            std::swap_ranges(u, v, v);
        }
        ASSERT_FALSE(image->empty());
        int64_t previous = 0;
        for (int64_t time : {0, 333333, 500000, 1234567, 2000000}) {
            std::unique_ptr<VideoSample> sample;
            ASSERT_EQ(media->createSample(image, static_cast<uint32_t>(image->size()), sample), hresult::ok);
            sample->setSampleTime(time);
            sample->setSampleDuration(time - previous);
            previous = time;
            ASSERT_EQ(writer->writeSample(stream, std::move(sample)), hresult::ok);
        }
        ASSERT_EQ(writer->finalize(), hresult::ok);
        writer.reset();

        const std::string quoted = " '" + file.string() + "'";
        const std::string probe = "ffprobe -v error -select_streams v -of csv=p=0" + quoted + " -show_entries ";
        EXPECT_EQ(commandOutput(probe + "stream=codec_name,profile,width,height"), "h264,Main,64,48\n");
        const std::string listed = commandOutput(probe + "packet=pts_time");
        std::istringstream in(listed);
        const std::vector<double> times{std::istream_iterator<double>(in), std::istream_iterator<double>()};
        const std::vector<double> expected = {0, 0.0333333, 0.05, 0.1234567, 0.2};
        ASSERT_EQ(times.size(), expected.size()) << listed;
        for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], expected[i], 0.0001) << listed;
        const std::string pixels = commandOutput("ffmpeg -v error -i" + quoted + " -frames:v 1 -vf format=rgb24 -f rawvideo -");
        ASSERT_EQ(pixels.size(), size_t(width * height * 3));
        for (int x : {12, 52}) {
            const auto* p = reinterpret_cast<const uint8_t*>(pixels.data()) + (24 * width + x) * 3;
            const Rgb want = at(x);
            EXPECT_NEAR(p[0], want.r, 24) << "x " << x;
            EXPECT_NEAR(p[1], want.g, 24) << "x " << x;
            EXPECT_NEAR(p[2], want.b, 24) << "x " << x;
        }
    }
    // A layout the encoder cannot take is refused before any file exists.
    CameraType bayer(fourCcGuid(fourCc('B', 'A', '8', '1')));
    std::unique_ptr<SinkWriter> writer;
    uint32_t stream = 0;
    WebcamWriterStep step = WebcamWriterStep::createAttributes;
    EXPECT_LT(camera->createWriter(dir / "bayer.mp4", bayer, writer, stream, step), 0);
    EXPECT_EQ(step, WebcamWriterStep::setInputType);
    EXPECT_FALSE(fs::exists(dir / "bayer.mp4"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace webcam_test
