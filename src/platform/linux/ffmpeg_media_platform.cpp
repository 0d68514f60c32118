#include <memory>

#include "platform/linux/ffmpeg_sink_writer.h"
#include "platform/linux/shared_image_sample.h"
#include "platform/video_writer.h"

namespace {

// FFmpeg needs no per-thread start-up; the calls pair up as on platforms that do.
class FfmpegMediaPlatform : public MediaPlatform {
public:
    HResult initializeThread() override { return hresult::ok; }
    void uninitializeThread() override {}
    HResult startup() override { return hresult::ok; }
    HResult shutdown() override { return hresult::ok; }

    HResult createSinkWriter(const std::filesystem::path& file, const SinkWriterAttributes& attributes,
                             std::unique_ptr<SinkWriter>& writer) override {
        writer.reset();
        if (!attributes.mpeg4Container) return hresult::invalidArgument;  // MP4 is the only container here
        writer = std::make_unique<FfmpegSinkWriter>(file, attributes.lowLatency);
        return hresult::ok;
    }

    HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) override {
        sample.reset();
        if (!image) return hresult::invalidArgument;
        sample = std::make_unique<SharedImageSample>(image, length);
        return hresult::ok;
    }
};

}  // namespace

std::unique_ptr<MediaPlatform> createMediaPlatform() { return std::make_unique<FfmpegMediaPlatform>(); }
