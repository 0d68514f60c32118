// Screen capture outages on a scripted desktop with virtual time: each row names the Microsoft
// documentation page whose behaviour it plays.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "addon/live_status.h"
#include "addon/tracks_json.h"
#include "common/captured_log.h"
#include "fake_screen_platform.h"
#include "recording_status.h"
#include "run_flags.h"
#include "screen/capture_outage.h"
#include "screen/screen_clock.h"
#include "screen/screen_recorder.h"

namespace outage_test {
namespace {

constexpr int64_t ms = 10000;  // 100 ns ticks
constexpr HResult diskFull = static_cast<HResult>(0x80070070u);

// The desktop over virtual time: when it is locked (the secure desktop cannot be duplicated),
// when the graphics device is removed, and what the writer does.
struct World {
    int64_t now = 0;  // steady and wall clock, relative
    int64_t endAt = 0;
    int64_t lockFrom = -1, lockUntil = -1;
    int64_t removeAt = -1;  // the device in use then is removed
    bool removalSeenByAcquire = true;  // else only DuplicateOutput and the device tell
    int devicesMade = 0, removedDevice = 0;  // 1-based device numbers
    int duplicateCalls = 0, framesHeld = 0, lastFrame = 0;
    int failWriteAt = -1;  // 1-based sample
    HResult finalizeResult = hresult::ok;
    bool writeFailed = false;
    std::vector<int64_t> sampleTimes, sampleEnds;
    std::vector<int> sampleFrames;
    int finalizeCalls = 0;

    bool locked() const { return now >= lockFrom && now < lockUntil; }
    bool removed(int device) const { return removeAt >= 0 && now >= removeAt && device == removedDevice; }
    void advance(int64_t ticks) {
        now += ticks;
        if (removeAt >= 0 && now >= removeAt && removedDevice == 0) removedDevice = devicesMade;
        if (now >= endAt) screenRunning.exchange(false);
    }
};

World w;

struct Frame : VideoTexture, DesktopResource {
    int number = 0;
    std::unique_ptr<VideoTexture> queryTexture() override {
        auto texture = std::make_unique<Frame>();
        texture->number = number;
        return texture;
    }
};

struct Duplication : DesktopDuplication {
    explicit Duplication(int device) : device(device) {}
    int device;
    bool lost = false;
    DuplicationMode mode() override { return {4, 2, pixelFormatB8G8R8A8}; }
    // A new image every 100 ms.
    HResult acquireNextFrame(uint32_t, std::unique_ptr<DesktopResource>& resource) override {
        w.advance(100 * ms);
        if (w.removed(device) && w.removalSeenByAcquire) return hresult::deviceRemoved;
        if (w.locked() || w.removed(device) || lost) return lost = true, hresult::accessLost;
        auto frame = std::make_unique<Frame>();
        frame->number = ++w.lastFrame;
        resource = std::move(frame);
        ++w.framesHeld;
        return hresult::ok;
    }
    HResult releaseFrame() override { return --w.framesHeld, hresult::ok; }
};

struct Device : VideoDevice {
    int number = ++w.devicesMade;
    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& step) override {
        ++w.duplicateCalls;
        step = DuplicationStep::duplicateOutput;
        if (w.removed(number)) return hresult::deviceRemoved;
        if (w.locked()) return hresult::accessDenied;
        duplication = std::make_unique<Duplication>(number);
        return hresult::ok;
    }
    HResult createTexture(TextureKind, const DuplicationMode&, std::unique_ptr<VideoTexture>& texture) override {
        texture = std::make_unique<Frame>();
        return hresult::ok;
    }
    HResult removedReason() override { return w.removed(number) ? hresult::deviceRemoved : hresult::ok; }
};

struct Context : VideoContext {
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        static_cast<Frame&>(destination).number = static_cast<Frame&>(source).number;
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        pixels.assign(4 * 4 * 2, uint8_t(static_cast<Frame&>(texture).number));
        image.data = pixels.data(), image.rowPitch = 16;
        return hresult::ok;
    }
    void unmap(VideoTexture&) override {}
    std::vector<uint8_t> pixels;
};

struct Writer : fake_screen::Writer {
    HResult writeSample(uint32_t, std::unique_ptr<VideoSample> sample) override {
        if (int(w.sampleTimes.size()) + 1 == w.failWriteAt) return w.writeFailed = true, diskFull;
        const auto& s = static_cast<fake_screen::Sample&>(*sample);
        w.sampleTimes.push_back(s.time), w.sampleEnds.push_back(s.time + s.duration), w.sampleFrames.push_back(s.image && !s.image->empty() ? (*s.image)[0] : 0);
        return hresult::ok;
    }
    HResult finalize() override {
        ++w.finalizeCalls;
        if (failed(w.finalizeResult)) w.writeFailed = true;
        return w.finalizeResult;
    }
    // As the Media Foundation writer says a full disk.
    std::string writeFailure() const override { return w.writeFailed ? "There is not enough space on the disk (0x80070070)" : ""; }
};

// Sleeping moves virtual time on; it never sleeps for real.
struct Clock : ScreenClock {
    std::vector<uint32_t> sleeps;
    int64_t wallTicks() override { return 17000000000000000 + w.now; }
    int64_t steadyTicks() override { return w.now; }
    void sleepMillis(uint32_t millis) override { sleeps.push_back(millis), w.advance(int64_t{millis} * ms); }
};

class CaptureOutage : public ::testing::Test {
protected:
    void run(bool constantRate = false) {
        w = World{w};  // keeps what the test arranged
        beginLiveStatus(*log.logger);
        screenRunning.exchange(true);
        screenRecording.exchange(true);
        settings.logger = log.logger;
        settings.projectDir = "/nonexistent-project";
        settings.fps = 10;
        settings.constantFrameRate = constantRate;
        fake_screen::Platform<Device, Context, Writer> platform(4, 2);
        ScreenRecorder(platform, platform, clock).run(settings);
        endLiveStatus();
    }
    void SetUp() override { w = World{}; }
    int count(const std::string& line) const { return log.count(line); }
    int countStarting(const std::string& start) const {
        int n = 0;
        for (const std::string& line : log.messages()) n += line.rfind(start, 0) == 0;
        return n;
    }
    std::vector<TrackOutage> outages() const { return readTrackRecord("screen").outages; }

    test_support::CapturedLog log;
    RecordingSettings settings;
    Clock clock;
};

// IDXGIOutputDuplication::AcquireNextFrame: DXGI_ERROR_ACCESS_LOST when the desktop switches
// (the lock screen); IDXGIOutput1::DuplicateOutput: E_ACCESSDENIED while the secure desktop shows.
// Both loops go on writing the held image; the outage is logged, ended and listed.
TEST_F(CaptureOutage, ATenSecondLockHoldsTheLastImageAndIsListed) {
    for (bool constantRate : {false, true}) {
        SCOPED_TRACE(constantRate ? "constant rate" : "variable rate");
        w = World{};
        w.endAt = 14000 * ms, w.lockFrom = 2000 * ms, w.lockUntil = 12000 * ms;
        clock = Clock{};
        log = test_support::CapturedLog{};
        run(constantRate);

        EXPECT_EQ(count("screenRecorder: AcquireNextFrame DXGI_ERROR_ACCESS_LOST"), 1);
        EXPECT_EQ(count("screenRecorder: screen capture interrupted (0x887A0026); the video holds the last image while the capture "
                        "is tried again"),
                  1);
        EXPECT_EQ(countStarting("screenRecorder: screen capture is back after 10."), 1);
        // The first attempt's lines once, the retries say nothing.
        EXPECT_EQ(count("screenRecorder: DuplicateOutput failed"), 1);
        // 250 ms for 5 s, then every second: about 20 + 5 attempts, not one per frame.
        EXPECT_GE(w.duplicateCalls, 20);
        EXPECT_LE(w.duplicateCalls, 30);
        for (uint32_t sleep : clock.sleeps) EXPECT_LE(sleep, 250u);

        const std::vector<TrackOutage> listed = outages();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_NEAR(double(listed[0].startTicks - 17000000000000000), 2000.0 * ms, 200.0 * ms);
        EXPECT_NEAR(double(listed[0].endTicks - listed[0].startTicks), 10000.0 * ms, 300.0 * ms);
        EXPECT_TRUE(readRecordingStatus().failures.empty()) << "the track is back: not failed";

        // The video runs through the lock with the image from before it, at about the video's rate.
        ASSERT_FALSE(w.sampleTimes.empty());
        EXPECT_NEAR(double(w.sampleEnds.back()), 14000.0 * ms, 400.0 * ms);
        int heldSamples = 0, lastBefore = 0;
        for (size_t i = 0; i < w.sampleTimes.size(); ++i) {
            const int64_t t = w.sampleTimes[i];
            if (t < 2300 * ms) lastBefore = w.sampleFrames[i];
            if (t > 2300 * ms && t < 11800 * ms) {
                ++heldSamples;
                EXPECT_EQ(w.sampleFrames[i], lastBefore) << "at " << t / ms << " ms";
            }
        }
        EXPECT_GE(heldSamples, 80);
        EXPECT_LE(heldSamples, 115);  // a retry falling due can shorten a wait
        EXPECT_GT(w.sampleFrames.back(), lastBefore) << "frames again after the lock";
        EXPECT_EQ(w.framesHeld, 0);
    }
}

// The lock outlasts the recording: the outage ends with it, and the file is complete.
TEST_F(CaptureOutage, ALockAtTheEndClosesTheOutageWithTheRecording) {
    w.endAt = 5000 * ms, w.lockFrom = 1000 * ms, w.lockUntil = 60000 * ms;
    run();
    EXPECT_EQ(countStarting("screenRecorder: the recording ended 4."), 1);
    const std::vector<TrackOutage> listed = outages();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].endTicks, 17000000000000000 + w.now);
    EXPECT_TRUE(readRecordingStatus().failures.empty());
    EXPECT_EQ(count("screenRecorder: Finalize success"), 1);
}

// ID3D11Device::GetDeviceRemovedReason / DXGI_ERROR: DXGI_ERROR_DEVICE_REMOVED after a driver
// update or GPU reset; the device is made again and the recording goes on in the same file. When
// the new device works at once there is no outage; when the removal shows only at DuplicateOutput
// (after sleep), the device is made again too.
TEST_F(CaptureOutage, ARemovedDeviceIsMadeAgain) {
    struct Case {
        const char* what;
        bool seenByAcquire;
        int64_t lockUntil;
        size_t outages;
    } const cases[] = {
        {"acquire says DEVICE_REMOVED", true, -1, 0},
        {"removed during a lock, told by DuplicateOutput", false, 6000 * ms, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w = World{};
        w.endAt = 8000 * ms, w.removeAt = 3000 * ms, w.removalSeenByAcquire = c.seenByAcquire;
        if (c.lockUntil > 0) w.lockFrom = 3000 * ms, w.lockUntil = c.lockUntil;
        log = test_support::CapturedLog{};
        run();
        EXPECT_EQ(w.devicesMade, 2);
        EXPECT_EQ(outages().size(), c.outages);
        EXPECT_EQ(count("screenRecorder: AcquireNextFrame failed"), 0);
        EXPECT_EQ(count("screenRecorder: the graphics device was removed (0x887A0005); making a new one"), c.seenByAcquire ? 1 : 0);
        EXPECT_NEAR(double(w.sampleEnds.back()), 8000.0 * ms, 300.0 * ms);
        EXPECT_EQ(w.sampleFrames.back(), w.lastFrame) << "the new device's frames reach the file";
        EXPECT_TRUE(readRecordingStatus().failures.empty());
    }
}

// IMFSinkWriter::WriteSample / IMFSinkWriter::Finalize: a full disk (0x80070070, HRESULT of
// ERROR_DISK_FULL) comes back from a later write or from Finalize. One error line for the file,
// and tracks.json calls the track failed.
TEST_F(CaptureOutage, WriteAndFinalizeFailuresAreSaidOnceAndFailTheTrack) {
    const std::string line =
        "screenRecorder: output.mp4 could not be written to the end (There is not enough space on the disk (0x80070070)); it holds "
        "the video up to the failure";
    struct Case {
        const char* what;
        int failWriteAt;
        HResult finalize;
    } const cases[] = {
        {"WriteSample fails", 5, hresult::ok},
        {"WriteSample and then Finalize fail", 5, diskFull},
        {"only Finalize fails", -1, diskFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w = World{};
        w.endAt = 2000 * ms, w.failWriteAt = c.failWriteAt, w.finalizeResult = c.finalize;
        log = test_support::CapturedLog{};
        run();
        EXPECT_EQ(count(line), 1);
        EXPECT_EQ(count("screenRecorder: Finalize success"), 0);
        EXPECT_EQ(w.finalizeCalls, 1);
        const std::vector<TrackFailure> failures = readRecordingStatus().failures;
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].track, "screen");
    }
}

// tracks.json: the screen entry always has the list, in wall-clock milliseconds like its start;
// an outage still open when the file was written has no end.
TEST(CaptureOutageListing, TracksJsonListsTheScreensOutages) {
    TrackRecord screen;
    screen.startTicks = 17000000000000000;
    screen.outages = {{17000000020000000, 17000000120000000}, {17000000200000000, 0}};
    const nlohmann::json json = nlohmann::json::parse(
        buildTracksJson({{"screen", "output.mp4", screen}, {"microphone", "mivox.wav", TrackRecord{}}}, {}));
    const nlohmann::json& outages = json["tracks"][0]["outages"];
    ASSERT_EQ(outages.size(), 2u);
    EXPECT_DOUBLE_EQ(outages[0]["start"].get<double>(), 1700000002000.0);
    EXPECT_DOUBLE_EQ(outages[0]["end"].get<double>(), 1700000012000.0);
    EXPECT_TRUE(outages[1]["end"].is_null());
    EXPECT_FALSE(json["tracks"][1].contains("outages")) << "only the screen has them";
    EXPECT_EQ(nlohmann::json::parse(buildTracksJson({{"screen", "output.mp4", TrackRecord{}}}, {}))["tracks"][0]["outages"],
              nlohmann::json::array());
}

TEST(CaptureBackoffSchedule, RetriesOftenAtFirstThenLessOften) {
    CaptureBackoff backoff;
    backoff.start(0);
    EXPECT_TRUE(backoff.due(0));
    backoff.attemptFailed(0);
    EXPECT_EQ(backoff.untilDue(0), 250 * ms);
    backoff.attemptFailed(10000 * ms);
    EXPECT_EQ(backoff.untilDue(10000 * ms), 1000 * ms);
    backoff.attemptFailed(120000 * ms);
    EXPECT_EQ(backoff.untilDue(120000 * ms), 2000 * ms);
    EXPECT_TRUE(isCaptureOutage(hresult::accessDenied));
    EXPECT_TRUE(needsNewDevice(hresult::deviceReset));
    EXPECT_TRUE(needsNewDevice(hresult::driverInternalError)) << "a driver fault leaves the device removed";
    EXPECT_FALSE(isCaptureOutage(hresult::fail)) << "an unknown failure still ends the track";
}

}  // namespace
}  // namespace outage_test
