#pragma once

// Scripted stand-ins for the video platform layer, used only to make the platform fail on demand.

#include <cstdint>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/video_capture.h"
#include "platform/video_writer.h"
#include "screen/screen_clock.h"

namespace screen_test {

struct FakeAdapterInfo {
    AdapterDescription description;
    std::vector<OutputDescription> outputs;
};

// One adapter with one 4x3 output.
inline std::vector<FakeAdapterInfo> defaultAdapters() {
    FakeAdapterInfo adapter;
    adapter.description.description = "Fake GPU";
    adapter.description.dedicatedVideoMemory = 256ull << 20;
    adapter.description.sharedSystemMemory = 1024ull << 20;
    OutputDescription output;
    output.deviceName = "\\\\.\\DISPLAY1";
    output.right = 4;
    output.bottom = 3;
    output.attachedToDesktop = true;
    adapter.outputs.push_back(output);
    return {adapter};
}

// Everything the fakes were told to do and everything they saw.
struct CaptureScript {
    HResult createFactory = hresult::ok;
    std::vector<FakeAdapterInfo> adapters = defaultAdapters();
    bool gpuPreference = true;
    std::vector<HResult> adapterFailures;  // by index, before the adapters themselves
    HResult createDevice = hresult::ok;
    uint32_t featureLevel = 0xB100;
    // Results of successive duplicateOutput0 calls; success once the list is used up.
    std::deque<std::pair<HResult, DuplicationStep>> duplications;
    HResult gdiTexture = hresult::ok;
    bool gdiTextureNull = false;
    HResult stagingTexture = hresult::ok;
    bool stagingTextureNull = false;
    DuplicationMode mode{4, 3, pixelFormatB8G8R8A8};
    // Results of successive acquires; once used up, the loop is stopped by lowering screenRunning.
    std::deque<HResult> acquires;
    // Called after every acquire with its number (from 1).
    std::function<void(int)> afterAcquire;
    bool resourceWithoutTexture = false;
    HResult map = hresult::ok;

    int duplicateCalls = 0;
    int acquireCalls = 0;
    int framesHeld = 0;
    int maxFramesHeld = 0;
    int releaseWithoutFrame = 0;
    int copies = 0;  // the desktop image's first byte is the number of the copy
};

class FakeCapturePlatform : public VideoCapturePlatform {
public:
    explicit FakeCapturePlatform(CaptureScript& script) : script(script) {}
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override;
    HResult createDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                         uint32_t& featureLevel) override;
    std::string messageText(HResult) override { return "Fake failure text.\r\n"; }

private:
    CaptureScript& script;
};

// A written sample keeps its image as the writer got it: reading it after the recording shows
// whether the recorder changed an image a sample still held.
struct WrittenSample {
    int64_t time;
    int64_t duration;
    SampleImage image;
    uint32_t length;

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> result(image->begin(), image->begin() + std::min<size_t>(length, image->size()));
        result.resize(length);
        return result;
    }
};

struct MediaScript {
    HResult initializeThread = hresult::ok;
    HResult startup = hresult::ok;
    HResult createWriter = hresult::ok;
    HResult beginWriting = hresult::ok;
    int failWriteAt = -1;  // 1-based sample number whose write fails
    HResult finalizeWithSamples = hresult::ok;

    bool writerCreated = false;
    bool writerDestroyed = false;
    int finalizeCalls = 0;
    bool shutdownCalled = false;
    bool uninitialized = false;
    VideoMediaType outputType;
    VideoMediaType inputType;
    std::vector<WrittenSample> samples;
};

class FakeMediaPlatform : public MediaPlatform {
public:
    explicit FakeMediaPlatform(MediaScript& script) : script(script) {}
    HResult initializeThread() override { return script.initializeThread; }
    void uninitializeThread() override { script.uninitialized = true; }
    HResult startup() override { return script.startup; }
    HResult shutdown() override {
        script.shutdownCalled = true;
        return hresult::ok;
    }
    HResult createSinkWriter(const std::filesystem::path& file, const SinkWriterAttributes& attributes,
                             std::unique_ptr<SinkWriter>& writer) override;
    HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) override;

private:
    MediaScript& script;
};

// Wall clock fixed per test; the monotonic clock advances by the given steps, one per reading.
class FakeClock : public ScreenClock {
public:
    int64_t wall = 17000000000000000;
    std::deque<int64_t> steps;
    int64_t steady = 5000;
    std::vector<uint32_t> sleeps;

    int64_t wallTicks() override { return wall; }
    int64_t steadyTicks() override {
        if (!steps.empty()) {
            steady += steps.front();
            steps.pop_front();
        }
        return steady;
    }
    void sleepMillis(uint32_t millis) override { sleeps.push_back(millis); }
};

}  // namespace screen_test
