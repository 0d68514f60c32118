#include "fake_video_platform.h"

#include <cstring>

#include "run_flags.h"

namespace screen_test {
namespace {

class FakeTexture : public VideoTexture {
public:
    std::vector<uint8_t> pixels;
};

class FakeResource : public DesktopResource {
public:
    explicit FakeResource(CaptureScript& script) : script(script) {}
    std::unique_ptr<VideoTexture> queryTexture() override {
        if (script.resourceWithoutTexture) return nullptr;
        return std::make_unique<FakeTexture>();
    }

private:
    CaptureScript& script;
};

class FakeDuplication : public DesktopDuplication {
public:
    explicit FakeDuplication(CaptureScript& script) : script(script) {}
    DuplicationMode mode() override { return script.mode; }
    HResult acquireNextFrame(uint32_t, std::unique_ptr<DesktopResource>& resource) override {
        const int number = ++script.acquireCalls;
        HResult result = hresult::waitTimeout;
        if (!script.acquires.empty()) {
            result = script.acquires.front();
            script.acquires.pop_front();
        }
        if (script.acquires.empty()) screenRunning.exchange(false);
        if (script.afterAcquire) script.afterAcquire(number);
        if (result == hresult::ok) {
            resource = std::make_unique<FakeResource>(script);
            ++script.framesHeld;
            script.maxFramesHeld = std::max(script.maxFramesHeld, script.framesHeld);
        }
        return result;
    }
    HResult releaseFrame() override {
        if (script.framesHeld == 0) {
            ++script.releaseWithoutFrame;
            return static_cast<HResult>(0x887A0001u);
        }
        --script.framesHeld;
        return hresult::ok;
    }

private:
    CaptureScript& script;
};

class FakeDevice : public VideoDevice {
public:
    explicit FakeDevice(CaptureScript& script) : script(script) {}
    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        ++script.duplicateCalls;
        if (!script.duplications.empty()) {
            const auto [result, step] = script.duplications.front();
            script.duplications.pop_front();
            if (failed(result)) {
                failedStep = step;
                return result;
            }
        }
        duplication = std::make_unique<FakeDuplication>(script);
        return hresult::ok;
    }
    HResult createTexture(TextureKind kind, const DuplicationMode&, std::unique_ptr<VideoTexture>& texture) override {
        const bool gdi = kind == TextureKind::gdiRenderTarget;
        const HResult result = gdi ? script.gdiTexture : script.stagingTexture;
        if (failed(result)) return result;
        if (!(gdi ? script.gdiTextureNull : script.stagingTextureNull)) texture = std::make_unique<FakeTexture>();
        return hresult::ok;
    }

private:
    CaptureScript& script;
};

class FakeContext : public VideoContext {
public:
    explicit FakeContext(CaptureScript& script) : script(script) {}
    void copyResource(VideoTexture& destination, VideoTexture&) override {
        auto& staging = static_cast<FakeTexture&>(destination);
        ++script.copies;
        staging.pixels.assign(size_t(script.mode.width) * 4 * script.mode.height, 0);
        staging.pixels[0] = uint8_t(script.copies);
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        if (failed(script.map)) return script.map;
        image.data = static_cast<FakeTexture&>(texture).pixels.data();
        image.rowPitch = script.mode.width * 4;
        return hresult::ok;
    }
    void unmap(VideoTexture&) override {}

private:
    CaptureScript& script;
};

class FakeAdapter : public VideoAdapter {
public:
    explicit FakeAdapter(const FakeAdapterInfo& info) : info(info) {}
    HResult describe(AdapterDescription& description) override {
        description = info.description;
        return hresult::ok;
    }
    HResult describeOutput(uint32_t index, OutputDescription& description) override {
        if (index >= info.outputs.size()) return hresult::notFound;
        description = info.outputs[index];
        return hresult::ok;
    }

private:
    FakeAdapterInfo info;
};

class FakeFactory : public VideoFactory {
public:
    explicit FakeFactory(CaptureScript& script) : script(script) {}
    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override { return enumerate(index, adapter); }
    bool supportsGpuPreference() override { return script.gpuPreference; }
    HResult enumAdapterByHighPerformance(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        return enumerate(index, adapter);
    }

private:
    HResult enumerate(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) {
        if (index < script.adapterFailures.size() && failed(script.adapterFailures[index])) return script.adapterFailures[index];
        const size_t position = index - std::min<size_t>(index, script.adapterFailures.size());
        if (position >= script.adapters.size()) return hresult::notFound;
        adapter = std::make_unique<FakeAdapter>(script.adapters[position]);
        return hresult::ok;
    }
    CaptureScript& script;
};

class FakeSample : public VideoSample {
public:
    FakeSample(SampleImage image, uint32_t length) : image(std::move(image)), length(length) {}
    HResult setSampleTime(int64_t value) override {
        time = value;
        return hresult::ok;
    }
    HResult setSampleDuration(int64_t value) override {
        duration = value;
        return hresult::ok;
    }
    SampleImage image;
    uint32_t length;
    int64_t time = -1;
    int64_t duration = -1;
};

class FakeWriter : public SinkWriter {
public:
    explicit FakeWriter(MediaScript& script) : script(script) { script.writerCreated = true; }
    ~FakeWriter() override { script.writerDestroyed = true; }
    HResult addStream(const VideoMediaType& type, uint32_t& index) override {
        script.outputType = type;
        index = 0;
        return hresult::ok;
    }
    HResult setInputMediaType(uint32_t, const VideoMediaType& type) override {
        script.inputType = type;
        return hresult::ok;
    }
    HResult beginWriting() override { return script.beginWriting; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        if (int(script.samples.size()) + 1 == script.failWriteAt) return hresult::fail;
        auto& fake = static_cast<FakeSample&>(*sample);
        script.samples.push_back({fake.time, fake.duration, fake.image, fake.length});

        return hresult::ok;
    }
    HResult finalize() override {
        ++script.finalizeCalls;
        return script.samples.empty() ? hresult::noSamplesProcessed : script.finalizeWithSamples;
    }

private:
    MediaScript& script;
};

}  // namespace

HResult FakeCapturePlatform::createFactory(std::unique_ptr<VideoFactory>& factory) {
    if (failed(script.createFactory)) return script.createFactory;
    factory = std::make_unique<FakeFactory>(script);
    return hresult::ok;
}

HResult FakeCapturePlatform::createDevice(VideoAdapter&, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                                          uint32_t& featureLevel) {
    if (failed(script.createDevice)) return script.createDevice;
    device = std::make_unique<FakeDevice>(script);
    context = std::make_unique<FakeContext>(script);
    featureLevel = script.featureLevel;
    return hresult::ok;
}

HResult FakeMediaPlatform::createSinkWriter(const std::filesystem::path&, const SinkWriterAttributes&, std::unique_ptr<SinkWriter>& writer) {
    if (failed(script.createWriter)) return script.createWriter;
    writer = std::make_unique<FakeWriter>(script);
    return hresult::ok;
}

HResult FakeMediaPlatform::createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) {
    sample = std::make_unique<FakeSample>(image, length);
    return hresult::ok;
}

}  // namespace screen_test
