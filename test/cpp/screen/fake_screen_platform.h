#pragma once
// What the screen recorder's fake graphics and media layers have in common: adapters with one
// output, a sample that keeps what it is told, and a platform that hands out the test's own
// device, context and writer. Each test brings the parts whose behaviour it plays.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/video_capture.h"
#include "platform/video_writer.h"

namespace fake_screen {

struct Adapter : VideoAdapter {
    Adapter(int32_t width, int32_t height) : width(width), height(height) {}
    int32_t width, height;
    HResult describe(AdapterDescription& d) override { return d.description = "Fake GPU", hresult::ok; }
    HResult describeOutput(uint32_t index, OutputDescription& o) override {
        o.right = width, o.bottom = height, o.attachedToDesktop = true;
        return index == 0 ? hresult::ok : hresult::notFound;
    }
};

struct Factory : VideoFactory {
    Factory(int32_t width, int32_t height, int adapters) : width(width), height(height), adapters(adapters) {}
    int32_t width, height;
    int adapters;
    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        if (int(index) >= adapters) return hresult::notFound;
        return adapter = std::make_unique<Adapter>(width, height), hresult::ok;
    }
    bool supportsGpuPreference() override { return true; }
    HResult enumAdapterByHighPerformance(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        return enumAdapters(index, adapter);
    }
};

struct Sample : VideoSample {
    SampleImage image;  // read after the recording: shows whether the recorder changed an image a sample held
    uint32_t length = 0;
    int64_t time = -1, duration = -1;
    std::optional<std::vector<ImageRect>> changed;
    HResult setSampleTime(int64_t value) override { return time = value, hresult::ok; }
    HResult setSampleDuration(int64_t value) override { return duration = value, hresult::ok; }
    void setChangedRects(std::vector<ImageRect> rects) override { changed = std::move(rects); }
};

// A desktop of width x height on each of `adapters` adapters.
template <class Device, class Context, class Writer>
struct Platform : VideoCapturePlatform, MediaPlatform {
    Platform(int32_t width, int32_t height, int adapters = 1) : width(width), height(height), adapters(adapters) {}
    int32_t width, height;
    int adapters;
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override {
        return factory = std::make_unique<Factory>(width, height, adapters), hresult::ok;
    }
    HResult createDevice(VideoAdapter&, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                         uint32_t& featureLevel) override {
        device = std::make_unique<Device>(), context = std::make_unique<Context>(), featureLevel = 0xB100;
        return hresult::ok;
    }
    std::string messageText(HResult) override { return "Fake failure text.\r\n"; }
    HResult initializeThread() override { return hresult::ok; }
    void uninitializeThread() override {}
    HResult startup() override { return hresult::ok; }
    HResult shutdown() override { return hresult::ok; }
    HResult createSinkWriter(const std::filesystem::path&, const SinkWriterAttributes&, std::unique_ptr<SinkWriter>& writer) override {
        return writer = std::make_unique<Writer>(), hresult::ok;
    }
    HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) override {
        auto created = std::make_unique<Sample>();
        created->image = image, created->length = length;
        return sample = std::move(created), hresult::ok;
    }
};

// A writer that takes everything; a test's own overrides what it plays.
struct Writer : SinkWriter {
    HResult addStream(const VideoMediaType&, uint32_t& index) override { return index = 0, hresult::ok; }
    HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::ok; }
    HResult beginWriting() override { return hresult::ok; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample>) override { return hresult::ok; }
    HResult finalize() override { return hresult::ok; }
};

}  // namespace fake_screen
