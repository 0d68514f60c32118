#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/captured_log.h"
#include "platform/mode_orientation.h"
#include "platform/video_capture.h"
#include "platform/video_writer.h"
#include "addon/live_status.h"
#include "recording_status.h"
#include "run_flags.h"
#include "screen/display_list.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"
#include "screen/upright_image.h"
#include "screen_figures.h"

// One row per class of Windows machine: which adapters and displays it has, and what DXGI answers
// there, as Microsoft documents it (the page each row names). The fake layer plays that machine;
// the recorder must get a video of the right display out of it, upright and not black.
namespace gpu_layouts_test {
namespace {

constexpr HResult unsupported = hresult::unsupported;
constexpr uint32_t bgra8 = 87, fp16 = 10;

struct FakeOutput {
    std::string name;
    int32_t left, top, right, bottom;
    bool primary = false;
    uint32_t rotation = 0;
};

struct FakeAdapter {
    std::string name;
    uint64_t luid;
    std::vector<FakeOutput> outputs;
    // DuplicateOutput on a device of this adapter for an output of another adapter (or of this one,
    // when refusesOwn) answers this.
    HResult foreignDuplication = unsupported;
    bool refusesOwn = false;
    bool refusesVideoSupport = false;  // D3D11CreateDevice fails with the video-support flag
    int refusalsBeforeAccepting = 1 << 30;  // a lock that ends: refuses this many times, then duplicates
};

struct Machine {
    const char* what;
    const char* documented;  // the pages whose behaviour the row models
    std::vector<FakeAdapter> byDefault;      // EnumAdapters1 order
    std::vector<int> byHighPerformance;      // indexes into byDefault
    uint32_t modeFormat = bgra8;
    uint32_t frameFormat = bgra8;
    int display = -1;                        // the start option
};

// What the fake saw.
struct Seen {
    std::vector<uint64_t> devicesOn;  // adapter luids
    std::vector<std::pair<uint64_t, std::string>> duplicated;
    std::vector<uint32_t> stagingFormats;
    std::vector<std::shared_ptr<const std::vector<uint8_t>>> samples;
    uint32_t videoWidth = 0, videoHeight = 0;
    int refusals = 0;
};

// A duplication that loses its device (a driver update, a GPU reset) on its first frame.
bool removeDeviceOnce = false;
enum class Loop { unpaced, constantRate, changesOnly };
Loop loop = Loop::unpaced;

const Machine* machine = nullptr;
Seen seen;

// Frame pixel (x, y) of output id: B = x, G = y, R = 100 + id, A = 255, so a video pixel tells
// which frame pixel and which display it came from.
struct Frame : VideoTexture, DesktopResource {
    uint32_t width = 0, height = 0, format = bgra8;
    std::vector<uint8_t> pixels;
    int id = 0;
    bool describe(DuplicationMode& d) override { return d = {width, height, format, 0}, true; }
    std::unique_ptr<VideoTexture> queryTexture() override { return std::make_unique<Frame>(*this); }
};

uint16_t half(float value) {  // exact for the small whole numbers and fractions used here
    if (value == 0) return 0;
    int exponent = 0;
    const float mantissa = std::frexp(value, &exponent);  // value = mantissa * 2^exponent, mantissa in [0.5, 1)
    return static_cast<uint16_t>(((exponent + 14) << 10) | (static_cast<int>(mantissa * 2048) & 0x3FF));
}

Frame makeFrame(const FakeOutput& output, int id, uint32_t format) {
    Frame f;
    uint32_t w = static_cast<uint32_t>(output.right - output.left), h = static_cast<uint32_t>(output.bottom - output.top);
    if (output.rotation == 90 || output.rotation == 270) std::swap(w, h);  // frames stay unrotated
    f.width = w, f.height = h, f.format = format, f.id = id;
    const uint32_t pixelBytes = format == fp16 ? 8 : 4;
    f.pixels.assign(size_t(w) * h * pixelBytes, 0);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = f.pixels.data() + (size_t(y) * w + x) * pixelBytes;
            if (format == fp16) {
                // Linear 1.0 (SDR white) in red, 0 elsewhere: sRGB 255, 0, 0.
                const uint16_t rgba[4] = {half(1.0f), 0, 0, half(1.0f)};
                std::memcpy(p, rgba, sizeof rgba);
            } else {
                p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(100 + id), p[3] = 255;
            }
        }
    }
    return f;
}

// With a changed rectangle, the second frame is redrawn (R = 200) everywhere, but only that
// rectangle of it (frame pixels) is said to have changed.
std::optional<ImageRect> secondFrameChange;

struct Duplication : DesktopDuplication {
    FakeOutput output;
    int id = 0;
    int given = 0;
    DuplicationMode mode() override {
        return {uint32_t(output.right - output.left), uint32_t(output.bottom - output.top), machine->modeFormat, output.rotation};
    }
    HResult acquireNextFrame(uint32_t, std::unique_ptr<DesktopResource>& resource) override {
        if (removeDeviceOnce) return removeDeviceOnce = false, hresult::deviceRemoved;
        const int frames = secondFrameChange ? 2 : 1;
        if (given + 1 >= frames) screenRunning.exchange(false);
        if (given == frames) return hresult::waitTimeout;
        Frame frame = makeFrame(output, id, machine->frameFormat);
        if (++given == 2) {
            for (size_t i = 2; i < frame.pixels.size(); i += 4) frame.pixels[i] = 200;
        }
        resource = std::make_unique<Frame>(std::move(frame));
        return hresult::ok;
    }
    HResult releaseFrame() override { return hresult::ok; }
    bool changedRects(std::vector<ImageRect>& rects) override {
        rects.assign(1, *secondFrameChange);
        return true;
    }
};

int outputId(uint64_t luid, uint32_t index) { return int(luid * 10 + index); }

struct Device : VideoDevice {
    const FakeAdapter& adapter;
    explicit Device(const FakeAdapter& a) : adapter(a) {}
    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& d, DuplicationStep& step) override { return duplicateOutput(0, d, step); }
    // A device duplicates only its own adapter's outputs [d1]; a hybrid's discrete GPU refuses the
    // panel with DXGI_ERROR_UNSUPPORTED [h1].
    HResult duplicateOutput(uint32_t index, std::unique_ptr<DesktopDuplication>& d, DuplicationStep& step) override {
        if (index >= adapter.outputs.size()) return step = DuplicationStep::enumOutputs, hresult::notFound;
        if (adapter.refusesOwn && seen.refusals < adapter.refusalsBeforeAccepting) {
            if (++seen.refusals == 20) screenRunning.exchange(false);  // a refusal for the whole recording
            return step = DuplicationStep::duplicateOutput, adapter.foreignDuplication;
        }
        auto created = std::make_unique<Duplication>();
        created->output = adapter.outputs[index];
        created->id = outputId(adapter.luid, index);
        seen.duplicated.emplace_back(adapter.luid, adapter.outputs[index].name);
        d = std::move(created);
        return hresult::ok;
    }
    HResult createTexture(TextureKind kind, const DuplicationMode& mode, std::unique_ptr<VideoTexture>& texture) override {
        EXPECT_EQ(kind, TextureKind::staging) << "nothing reads a GDI texture";
        auto made = std::make_unique<Frame>();
        made->width = mode.width, made->height = mode.height, made->format = mode.format;
        seen.stagingFormats.push_back(mode.format);
        texture = std::move(made);
        return hresult::ok;
    }
};

struct Context : VideoContext {
    // CopyResource needs the same size and format on both sides; otherwise nothing is copied.
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        auto& to = static_cast<Frame&>(destination);
        const auto& from = static_cast<Frame&>(source);
        if (to.width == from.width && to.height == from.height && to.format == from.format) to.pixels = from.pixels;
    }
    void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& r) override {
        auto& to = static_cast<Frame&>(destination);
        const auto& from = static_cast<Frame&>(source);
        for (int y = r.top; y < r.bottom; ++y) {
            std::memcpy(to.pixels.data() + (size_t(y) * to.width + r.left) * 4, from.pixels.data() + (size_t(y) * from.width + r.left) * 4,
                        size_t(r.right - r.left) * 4);
        }
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        auto& t = static_cast<Frame&>(texture);
        const uint32_t pixelBytes = t.format == fp16 ? 8 : 4;
        t.pixels.resize(size_t(t.width) * t.height * pixelBytes);  // a texture never written reads as black
        image.data = t.pixels.data(), image.rowPitch = t.width * pixelBytes;
        return hresult::ok;
    }
    void unmap(VideoTexture&) override {}
};

struct Adapter : VideoAdapter {
    const FakeAdapter& a;
    explicit Adapter(const FakeAdapter& fake) : a(fake) {}
    HResult describe(AdapterDescription& d) override { return d.description = a.name, d.luid = a.luid, hresult::ok; }
    HResult describeOutput(uint32_t index, OutputDescription& d) override {
        if (index >= a.outputs.size()) return hresult::notFound;  // [d9]
        const FakeOutput& o = a.outputs[index];
        d.deviceName = o.name, d.left = o.left, d.top = o.top, d.right = o.right, d.bottom = o.bottom;
        d.attachedToDesktop = true, d.primary = o.primary;
        return hresult::ok;
    }
};

struct Factory : VideoFactory {
    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        if (index >= machine->byDefault.size()) return hresult::notFound;  // [d8]
        return adapter = std::make_unique<Adapter>(machine->byDefault[index]), hresult::ok;
    }
    bool supportsGpuPreference() override { return true; }
    HResult enumAdapterByHighPerformance(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {  // [d10]
        if (index >= machine->byHighPerformance.size()) return hresult::notFound;
        return adapter = std::make_unique<Adapter>(machine->byDefault[size_t(machine->byHighPerformance[index])]), hresult::ok;
    }
};

struct Sample : VideoSample {
    HResult setSampleTime(int64_t) override { return hresult::ok; }
    HResult setSampleDuration(int64_t) override { return hresult::ok; }
};

struct Writer : SinkWriter {
    HResult addStream(const VideoMediaType& type, uint32_t& index) override {
        seen.videoWidth = type.width, seen.videoHeight = type.height;
        return index = 0, hresult::ok;
    }
    HResult setInputMediaType(uint32_t, const VideoMediaType&) override { return hresult::ok; }
    HResult beginWriting() override { return hresult::ok; }
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample>) override { return hresult::ok; }
    HResult finalize() override { return hresult::ok; }
};

struct Platform : VideoCapturePlatform, MediaPlatform {
    bool librariesAvailable(std::string&) override { return true; }
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override { return factory = std::make_unique<Factory>(), hresult::ok; }
    HResult make(VideoAdapter& adapter, bool videoSupport, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                 uint32_t& level) {
        const FakeAdapter& a = static_cast<Adapter&>(adapter).a;
        if (videoSupport && a.refusesVideoSupport) return hresult::invalidArgument;
        seen.devicesOn.push_back(a.luid);
        device = std::make_unique<Device>(a), context = std::make_unique<Context>(), level = 0xB000;
        return hresult::ok;
    }
    HResult createDevice(VideoAdapter& a, std::unique_ptr<VideoDevice>& d, std::unique_ptr<VideoContext>& c, uint32_t& l) override {
        return make(a, true, d, c, l);
    }
    HResult createPlainDevice(VideoAdapter& a, std::unique_ptr<VideoDevice>& d, std::unique_ptr<VideoContext>& c, uint32_t& l) override {
        return make(a, false, d, c, l);
    }
    std::string messageText(HResult) override { return "Fake failure text."; }
    HResult initializeThread() override { return hresult::ok; }
    void uninitializeThread() override {}
    HResult startup() override { return hresult::ok; }
    HResult shutdown() override { return hresult::ok; }
    HResult createSinkWriter(const std::filesystem::path&, const SinkWriterAttributes&, std::unique_ptr<SinkWriter>& writer) override {
        return writer = std::make_unique<Writer>(), hresult::ok;
    }
    HResult createSample(const SampleImage& image, uint32_t, std::unique_ptr<VideoSample>& sample) override {
        seen.samples.push_back(image);
        return sample = std::make_unique<Sample>(), hresult::ok;
    }
};

struct Clock : ScreenClock {
    int64_t t = 0;
    int64_t wallTicks() override { return 17000000000000000; }
    int64_t steadyTicks() override { return t += 100000; }
    void sleepMillis(uint32_t) override {}
};

// The video pixel at (x, y) from the top: B, G, R of the last sample (bottom-up, 4 bytes a pixel).
struct Pixel {
    int b, g, r;
    bool operator==(const Pixel& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& out, const Pixel& p) { return out << "(" << p.b << "," << p.g << "," << p.r << ")"; }
Pixel videoPixel(uint32_t x, uint32_t y) {
    const std::vector<uint8_t>& image = *seen.samples.back();
    const uint8_t* p = image.data() + (size_t(seen.videoHeight - 1 - y) * seen.videoWidth + x) * 4;
    return {p[0], p[1], p[2]};
}

struct Result {
    test_support::CapturedLog log;
    std::optional<RecordedDisplay> display;
    std::vector<std::string> warnings() const {
        std::vector<std::string> found;
        for (const std::string& line : log.messages()) {
            if (line.find("instead") != std::string::npos || line.find("without video support") != std::string::npos) found.push_back(line);
        }
        return found;
    }
};

Result record(const Machine& m, CaptureArea area = {}, std::optional<ImageRect> change = std::nullopt, bool removeDevice = false) {
    machine = &m;
    removeDeviceOnce = removeDevice;
    secondFrameChange = change;
    seen = Seen{};
    Result result;
    auto logger = std::make_shared<spdlog::logger>("layout", result.log.logger->sinks().begin(), result.log.logger->sinks().end());
    beginLiveStatus(*logger);
    RecordingSettings settings;
    settings.logger = logger;
    settings.projectDir = "/nonexistent-project";
    settings.display = m.display;
    settings.area = area;
    settings.constantFrameRate = change.has_value() || loop == Loop::constantRate;  // the loop that copies only what changed
    settings.changesOnly = loop == Loop::changesOnly;
    screenRunning.exchange(true);
    screenRecording.exchange(true);
    Platform platform;
    Clock clock;
    ScreenRecorder(platform, platform, clock).run(settings);
    result.display = readTrackRecord("screen").display;
    endLiveStatus();
    return result;
}

const FakeOutput panel{"\\\\.\\DISPLAY1", 0, 0, 8, 6, true};

TEST(GpuLayouts, SingleGpu) {
    const Machine m{"single GPU, one monitor", "d8 EnumAdapters1, d9 EnumOutputs, d1 DuplicateOutput",
                    {{"GPU", 1, {panel}}}, {0}};
    Result r = record(m);
    EXPECT_TRUE(r.warnings().empty());
    EXPECT_EQ(seen.devicesOn, std::vector<uint64_t>{1});
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(seen.videoWidth, 8u);
    EXPECT_EQ(videoPixel(5, 3), (Pixel{5, 3, 110}));
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->index, 0);
    EXPECT_EQ(r.display->right, 8);
}

// The discrete GPU comes first in high-performance order and drives no display [h2, d10]; the
// panel is the integrated GPU's, and a device of the discrete GPU gets UNSUPPORTED when it tries
// to duplicate it [h1, h3]. The primary display is the one at (0, 0) [v: the-virtual-screen,
// MonitorFromPoint].
TEST(GpuLayouts, HybridLaptopRecordsThePanelOnTheIntegratedGpu) {
    const Machine noOutputs{"hybrid laptop: discrete GPU without outputs", "h2 validating-a-hybrid-system-configuration, d10, v",
                            {{"Integrated", 1, {panel}}, {"Discrete", 2, {}}}, {1, 0}};
    Result r = record(noOutputs);
    ASSERT_EQ(r.warnings().size(), 1u);
    EXPECT_EQ(r.warnings()[0], "screenRecorder: Discrete drives no display; recording the primary display \\\\.\\DISPLAY1 on Integrated instead");
    EXPECT_EQ(seen.devicesOn, std::vector<uint64_t>{1});
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(videoPixel(1, 2), (Pixel{1, 2, 110}));
    EXPECT_TRUE(r.log.errors().empty()) << r.log.errors()[0];

    // A discrete GPU that lists the panel yet refuses to duplicate it from its own device.
    FakeAdapter discrete{"Discrete", 2, {{"\\\\.\\DISPLAY1", 0, 0, 8, 6, false}}, unsupported, true};
    const Machine refused{"hybrid laptop: duplication refused", "h1 freemancw hybrid duplication, d1 DuplicateOutput",
                          {{"Integrated", 1, {panel}}, discrete}, {1, 0}};
    r = record(refused);
    ASSERT_EQ(r.warnings().size(), 1u);
    EXPECT_NE(r.warnings()[0].find("cannot duplicate \\\\.\\DISPLAY1 (0x887A0004)"), std::string::npos) << r.warnings()[0];
    EXPECT_EQ(seen.devicesOn, (std::vector<uint64_t>{2, 1}));
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(videoPixel(1, 2), (Pixel{1, 2, 110}));
    EXPECT_TRUE(r.log.errors().empty());

    // A new device after the GPU was reset is made where the panel was recorded, not where the
    // default choice would go again [d1].
    r = record(refused, {}, std::nullopt, true);
    EXPECT_EQ(seen.devicesOn, (std::vector<uint64_t>{2, 1, 1}));
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(videoPixel(1, 2), (Pixel{1, 2, 110}));

    // The discrete GPU's listing of the panel chosen by the display option: the same panel on
    // the integrated GPU is recorded.
    Machine chosen = refused;
    chosen.display = 1;
    r = record(chosen);
    EXPECT_EQ(seen.devicesOn, (std::vector<uint64_t>{2, 1}));
    EXPECT_EQ(videoPixel(1, 2), (Pixel{1, 2, 110}));
}

// A desktop with the primary display on one GPU and a second display on the high-performance
// one [d8, d10, m]: the high-performance adapter's output 0 yields a video, so it stays the
// choice; when its duplication is refused (E_INVALIDARG [d1]) the primary display is recorded
// instead. NOT_CURRENTLY_AVAILABLE is the session's limit of duplicating processes [d1]: moving to
// another adapter cannot help, so it is said as it is.
TEST(GpuLayouts, PrimaryDisplayOnTheSecondGpu) {
    const FakeOutput side{"\\\\.\\DISPLAY2", 8, 0, 12, 4};
    const Machine kept{"primary on GPU A, high-performance GPU B drives a side display", "d8 EnumAdapters1, d10 EnumAdapterByGpuPreference",
                       {{"A", 1, {panel}}, {"B", 2, {side}}}, {1, 0}};
    Result r = record(kept);
    EXPECT_TRUE(r.warnings().empty());
    EXPECT_EQ(seen.devicesOn, std::vector<uint64_t>{2});
    EXPECT_EQ(seen.videoWidth, 4u);
    EXPECT_EQ(videoPixel(3, 1), (Pixel{3, 1, 120}));
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->index, 1);
    EXPECT_EQ(r.display->left, 8);

    const Machine moved{"the same, B refuses", "d1 DuplicateOutput", {{"A", 1, {panel}}, {"B", 2, {side}, hresult::invalidArgument, true}}, {1, 0}};
    r = record(moved);
    EXPECT_EQ(r.warnings().size(), 1u);
    EXPECT_EQ(seen.devicesOn, (std::vector<uint64_t>{2, 1}));
    EXPECT_EQ(seen.videoWidth, 8u);
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->index, 0);

    // The session's limit of duplicating processes, or a desktop mode that cannot be duplicated
    // for now, passes [d1]: no other adapter, a recording that starts black and waits for it.
    for (const HResult passing : {hresult::notCurrentlyAvailable, hresult::unsupported}) {
        const Machine limit{"the same, B cannot duplicate for now", "d1 DuplicateOutput",
                            {{"A", 1, {panel}}, {"B", 2, {side}, passing, true}}, {1, 0}};
        r = record(limit);
        EXPECT_TRUE(r.warnings().empty());
        EXPECT_EQ(seen.devicesOn, std::vector<uint64_t>{2});
        EXPECT_EQ(seen.refusals, 20);
        EXPECT_EQ(seen.videoWidth, 4u);
        ASSERT_FALSE(seen.samples.empty());
        EXPECT_EQ(videoPixel(3, 1), (Pixel{0, 0, 0}));
        ASSERT_TRUE(r.display);
        EXPECT_EQ(r.display->left, 8);
        EXPECT_EQ(r.log.count("screenRecorder: DuplicateOutput failed"), 0);
        EXPECT_EQ(r.log.count(fmt::format("screenRecorder: screen capture interrupted (0x{:08X}); the video is black until the capture "
                                          "is tried again successfully",
                                          static_cast<uint32_t>(passing))),
                  1);
        // Not one picture in the whole recording: the track failed, though its file is whole.
        EXPECT_EQ(r.log.count(fmt::format("screenRecorder: \\\\.\\DISPLAY2 could not be captured during the whole recording (0x{:08X}); "
                                          "the video is black",
                                          static_cast<uint32_t>(passing))),
                  1);
        EXPECT_EQ(r.log.errors().size(), 2u);  // the outage and the failure
    }
}

// Started on the lock screen: E_ACCESSDENIED on the secure desktop [d1], then the user's desktop.
TEST(GpuLayouts, StartedWhileLocked) {
    FakeAdapter gpu{"GPU", 1, {panel}, hresult::accessDenied, true};
    gpu.refusalsBeforeAccepting = 3;
    const Machine m{"single GPU, locked at start", "d1 DuplicateOutput, d5 desktop-dup-api", {gpu}, {0}};
    for (const Loop each : {Loop::unpaced, Loop::constantRate, Loop::changesOnly}) {
        loop = each;
        Result r = record(m);
        loop = Loop::unpaced;
        EXPECT_EQ(seen.refusals, 3);
        ASSERT_GE(seen.samples.size(), 2u) << int(each);
        EXPECT_EQ((*seen.samples.front())[4 * 8 * 6 - 2], 0) << int(each);  // black until the desktop comes
        EXPECT_EQ(videoPixel(5, 3), (Pixel{5, 3, 110})) << int(each);
        EXPECT_EQ(r.log.errors(), std::vector<std::string>{"screenRecorder: screen capture interrupted (0x80070005); the video is black "
                                                            "until the capture is tried again successfully"});
        EXPECT_EQ(r.log.count("screenRecorder: screen capture is back after 0.6 s"), 1);
    }
}

// Which way round a rotated mode comes is not stated; the desktop rectangle's aspect decides,
// and without it the mode is the unrotated surface's [d5 "Rotating the desktop image", d6].
TEST(GpuLayouts, RotatedModeSize) {
    struct Row {
        uint32_t w, h, rotation;
        std::optional<bool> portraitDesktop;
        uint32_t wantW, wantH;
    };
    const Row rows[] = {{1024, 768, 90, true, 768, 1024},         {768, 1024, 90, true, 768, 1024}, {1024, 768, 270, std::nullopt, 768, 1024},
                        {1024, 768, 0, std::nullopt, 1024, 768}, {1024, 768, 180, false, 1024, 768}, {800, 800, 90, true, 800, 800}};
    for (const Row& row : rows) {
        uint32_t w = row.w, h = row.h;
        orientModeSize(w, h, row.rotation, row.portraitDesktop);
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(row.wantW, row.wantH)) << row.w << "x" << row.h << " at " << row.rotation;
    }
}

// Two monitors, one left of the primary at negative x [v, d1]: each can be chosen, the area is
// relative to it, and tracks.json places it on the virtual desktop.
TEST(GpuLayouts, TwoMonitorsWithAChoice) {
    const FakeOutput left{"\\\\.\\DISPLAY2", -6, 0, 0, 4};
    Machine m{"two monitors on one GPU, one at negative x", "v the-virtual-screen, d9 EnumOutputs", {{"GPU", 1, {panel, left}}}, {0}};
    {
        std::unique_ptr<VideoFactory> factory = std::make_unique<Factory>();
        machine = &m;
        const std::vector<DisplayEntry> displays = listDisplays(*factory);
        ASSERT_EQ(displays.size(), 2u);
        EXPECT_TRUE(displays[0].output.primary);
        EXPECT_FALSE(displays[1].output.primary);
        EXPECT_EQ(displays[1].output.left, -6);
    }
    m.display = 1;
    Result r = record(m, CaptureArea{1, 1, 5, 3});
    EXPECT_EQ(seen.duplicated, (std::vector<std::pair<uint64_t, std::string>>{{1, "\\\\.\\DISPLAY2"}}));
    EXPECT_EQ(seen.videoWidth, 4u);
    EXPECT_EQ(seen.videoHeight, 2u);
    EXPECT_EQ(videoPixel(0, 0), (Pixel{1, 1, 111}));  // the area's corner is the display's (1, 1)
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->left, -6);
    EXPECT_EQ(r.display->index, 1);

    m.display = 0;
    r = record(m);
    EXPECT_EQ(videoPixel(7, 5), (Pixel{7, 5, 110}));

    m.display = 2;
    r = record(m);
    EXPECT_TRUE(seen.samples.empty());
    EXPECT_EQ(r.log.count("screenRecorder: display 2 does not exist; listDisplays() lists 2"), 1);
    EXPECT_EQ(r.log.count("screenRecorder: createDevice failed"), 1);
}

// HDR on: the mode is R16G16B16A16_FLOAT while DuplicateOutput's frames are always B8G8R8A8
// [d5 desktop-dup-api, d6 DXGI_OUTDUPL_DESC, r1]. A copy texture made from the mode's format
// would copy nothing (a black video); the frame's own description is what counts [s].
TEST(GpuLayouts, HdrModeWithBgraFrames) {
    const Machine hdr{"HDR: FP16 mode, BGRA8 frames", "d5, d6, r1 ScreenRecorderLib#96", {{"GPU", 1, {panel}}}, {0}, fp16, bgra8};
    Result r = record(hdr);
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(videoPixel(4, 2), (Pixel{4, 2, 110}));
    for (uint32_t format : seen.stagingFormats) EXPECT_EQ(format, bgra8);

    // Frames that do come as FP16 (scRGB, as DuplicateOutput1 can give [d7]) are turned into
    // sRGB: linear 1.0 red is full red.
    const Machine fp16Frames{"FP16 frames", "d7 DuplicateOutput1, r4", {{"GPU", 1, {panel}}}, {0}, fp16, fp16};
    r = record(fp16Frames);
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_EQ(videoPixel(4, 2), (Pixel{0, 0, 255}));
    EXPECT_EQ(seen.stagingFormats.back(), fp16);

    // A format the recorder cannot read (R10G10B10A2) is said once; the recording goes on.
    const Machine tenBit{"10-bit frames", "d7", {{"GPU", 1, {panel}}}, {0}, fp16, 24};
    r = record(tenBit);
    EXPECT_EQ(r.log.count("screenRecorder: frames of 8x6 in pixel format 24 cannot be read; the video keeps the last image"), 1);
    EXPECT_FALSE(seen.samples.empty());
    EXPECT_TRUE(r.log.errors().empty());
}

// A portrait display: the desktop is 6x8 as the user sees it, the frames are 8x6 with the image
// turned inside them [d5 "Rotating the desktop image"]. The video must be upright, 6x8.
TEST(GpuLayouts, RotatedDisplaysComeOutUpright) {
    for (const uint32_t rotation : {90u, 270u}) {
        SCOPED_TRACE(rotation);
        const FakeOutput portrait{"\\\\.\\DISPLAY1", 0, 0, 6, 8, true, rotation};
        const Machine m{"rotated display", "d5 desktop-dup-api, d6, s DisplayManager.cpp", {{"GPU", 1, {portrait}}}, {0}};
        record(m);
        ASSERT_FALSE(seen.samples.empty());
        EXPECT_EQ(seen.videoWidth, 6u);
        EXPECT_EQ(seen.videoHeight, 8u);
        // Frame pixel (fx, fy) of the 8x6 frame lands at (5 - fy, fx) at 90 degrees and at
        // (fy, 7 - fx) at 270 degrees.
        if (rotation == 90) {
            EXPECT_EQ(videoPixel(5, 0), (Pixel{0, 0, 110}));
            EXPECT_EQ(videoPixel(0, 7), (Pixel{7, 5, 110}));
        } else {
            EXPECT_EQ(videoPixel(0, 7), (Pixel{0, 0, 110}));
            EXPECT_EQ(videoPixel(5, 0), (Pixel{7, 5, 110}));
        }
    }
}

// Only the changed rectangle of a rotated frame is copied, and it lands where the picture turned
// puts it [s DisplayManager.cpp SetDirtyVert].
TEST(GpuLayouts, ARotatedFramesChangedRectangleIsTurnedToo) {
    const FakeOutput portrait{"\\\\.\\DISPLAY1", 0, 0, 6, 8, true, 90};
    const Machine m{"rotated display, one dirty rectangle", "d5, GetFrameDirtyRects, s", {{"GPU", 1, {portrait}}}, {0}};
    record(m, {}, ImageRect{1, 0, 3, 2});  // frame x 1..2, y 0..1: upright x 4..5, y 1..2
    ASSERT_GE(seen.samples.size(), 2u);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 6; ++x) {
            const bool changed = x >= 4 && y >= 1 && y <= 2;
            EXPECT_EQ(videoPixel(x, y).r, changed ? 200 : 110) << x << "," << y;
            EXPECT_EQ(videoPixel(x, y).b, int(y)) << "frame x of upright " << x << "," << y;
        }
    }
}

// D3D11CreateDevice refusing the video-support flag (basic display adapters, virtual machines
// [d11]): the device is made without it, and the video is recorded.
TEST(GpuLayouts, DeviceWithoutVideoSupport) {
    FakeAdapter basic{"Microsoft Basic Display Adapter", 1, {panel}};
    basic.refusesVideoSupport = true;
    const Machine m{"basic display adapter", "d11 D3D11CreateDevice", {basic}, {0}};
    Result r = record(m);
    EXPECT_EQ(r.warnings().size(), 1u);
    ASSERT_FALSE(seen.samples.empty());
    EXPECT_TRUE(r.log.errors().empty());
}

// Rectangles of a rotated frame move with the image: the sample's conversions [s SetDirtyVert].
TEST(UprightImage, ChangedRectanglesTurnWithTheImage) {
    // An 8x6 frame of a 6x8 portrait desktop; frame rect x 1..3, y 0..2.
    const ImageRect r{1, 0, 3, 2};
    const auto same = [](ImageRect a, ImageRect b) { return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom; };
    EXPECT_TRUE(same(uprightRect(r, 8, 6, 0), r));
    EXPECT_TRUE(same(uprightRect(r, 8, 6, 90), ImageRect{4, 1, 6, 3}));
    EXPECT_TRUE(same(uprightRect(r, 8, 6, 180), ImageRect{5, 4, 7, 6}));
    EXPECT_TRUE(same(uprightRect(r, 8, 6, 270), ImageRect{0, 5, 2, 7}));

    // Converting only that rectangle writes exactly its pixels, where uprightRect says.
    for (const uint32_t rotation : {90u, 180u, 270u}) {
        std::vector<uint8_t> frame(8 * 6 * 4, 7);
        uint32_t w = 0, h = 0;
        uprightSize(8, 6, rotation, w, h);
        std::vector<uint8_t> upright(size_t(w) * h * 4, 0);
        storeUpright(upright, frame.data(), 8 * 4, 8, 6, bgra8, rotation, r);
        const ImageRect u = uprightRect(r, 8, 6, rotation);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const bool inside = int(x) >= u.left && int(x) < u.right && int(y) >= u.top && int(y) < u.bottom;
                EXPECT_EQ(upright[(size_t(y) * w + x) * 4], inside ? 7 : 0) << rotation << " at " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace gpu_layouts_test
