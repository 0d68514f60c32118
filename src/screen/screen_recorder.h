#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/video_capture.h"
#include "platform/video_writer.h"
#include "recording_settings.h"
#include "screen/capture_outage.h"
#include "screen/display_list.h"
#include "screen/frame_image.h"
#include "screen/image_changes.h"
#include "screen/screen_clock.h"
#include "track_events.h"

inline constexpr char screenFileName[] = "output.mp4";

// Thread function of the screen track: captures one display into output.mp4 until screenRunning falls.
void runScreenRecorder(RecordingSettings settings);

// The screen track written against the video platform layer, so that any platform (or a test's
// scripted one) can run it. One instance serves one recording thread.
class ScreenRecorder {
public:
    ScreenRecorder(VideoCapturePlatform& capture, MediaPlatform& media, ScreenClock& clock);
    ~ScreenRecorder();
    ScreenRecorder(const ScreenRecorder&) = delete;
    ScreenRecorder& operator=(const ScreenRecorder&) = delete;

    void run(RecordingSettings settings);

    // The set-up steps, in the order run() takes them.
    HResult logAdapters(const RecordingSettings& settings);
    // Chooses the display and its adapter and makes the device there.
    HResult createDevice(const RecordingSettings& settings);
    // Duplicates the chosen display and makes the copy texture. With quietRefusal a refused
    // duplication (the device cannot duplicate that output) is left for the caller to say.
    bool prepare(const RecordingSettings& settings, bool quietRefusal = false);
    // createDevice and prepare; where the default choice cannot be duplicated, the primary
    // display on its own adapter instead. False once the failure's lines are logged.
    bool setUpCapture(const RecordingSettings& settings);

    // Samples written to the current writer.
    uint64_t writtenSamples() const { return samplesWritten; }

private:
    enum class LoopEnd { stopped, failed };
    // What asking for the next desktop image gave: one, none new, or the end of the loop.
    enum class Acquired { frame, none, stopped, failed };

    // Makes the device on the adapter (without the video-support flag when it is refused).
    HResult createDeviceOn(VideoAdapter& adapter, const RecordingSettings& settings);
    // A new device for the display being recorded, found again by its adapter and name (indexes
    // move when displays come and go). notFound while it is not there.
    HResult recreateDevice(const RecordingSettings& settings);
    // The chosen display exists but cannot be duplicated now (a locked desktop, the session's
    // limit of duplicating processes): the recording starts in an outage, at the display's size.
    bool startUnavailable(const RecordingSettings& settings);
    void beginOutageAtStart(const RecordingSettings& settings);
    void sayDuplicationFailure(const RecordingSettings& settings);
    void publishDisplay();
    // The staging texture for a frame of this description (made anew when it changes).
    bool stagingFor(const DuplicationMode& frame);
    LoopEnd captureLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings);
    // constantFrameRate: exactly fps samples a second on a 1/fps grid, each the newest image.
    LoopEnd constantRateLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings);
    // changesOnly: a sample only when the picture changed, at the moment it was captured; the
    // last one lasts until the end.
    LoopEnd changesLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings);
    // The line for a sample the writer refused: the file's write failure when that is the cause.
    void logWriteFailed(const SinkWriter& writer, const RecordingSettings& settings);
    // After finalize: a write failure not yet said, and a file left unfinished.
    void logFileProblems(const SinkWriter& writer, const RecordingSettings& settings);
    // Recovers a lost duplication itself. Waits up to timeoutMillis for a change.
    Acquired acquireFrame(std::unique_ptr<DesktopResource>& resource, const RecordingSettings& settings, uint32_t timeoutMillis = 0);
    // A capture outage (capture_outage.h): the duplication is let go, the first attempt to make
    // it again is made at once and the others with back-off, each time the loop asks for a frame;
    // meanwhile the loop writes the last image as it does for an unchanged desktop.
    Acquired beginOutage(HResult cause, const RecordingSettings& settings);
    void openOutage(HResult cause);
    Acquired waitInOutage(const RecordingSettings& settings, uint32_t timeoutMillis);
    bool retryCapture(const RecordingSettings& settings, bool loud);
    // The duplication made again is of the display being recorded (another one can take its
    // output's place when it is unplugged); its rectangle is brought up to date.
    bool sameDisplayAgain();
    // The capture is back, or the recording ended during the outage.
    void endOutage(const RecordingSettings& settings, bool recordingEnded);
    void noteFirstSample(int64_t wallTicks, const RecordingSettings& settings);
    // The platform's own reason for the step that just failed, as a line of its own.
    void reportPlatformReason(const RecordingSettings& settings, TrackEventCode code);
    // Makes the frame the latest image. With useChanges only what the duplication says changed is
    // copied (and, further on, converted).
    bool captureFrame(DesktopResource* resource, bool useChanges = false);
    void releaseResources(const RecordingSettings& settings);
    HResult initializeSinkWriter(std::unique_ptr<SinkWriter>& writer, uint32_t& streamIndex, const RecordingSettings& settings);
    HResult writeFrame(SinkWriter& writer, uint32_t streamIndex, int64_t sampleTime, int64_t sampleDuration, bool frameAcquired);
    void publishRateFigures(const RecordingSettings& settings);
    // The buffer the next image goes into, and what of the desktop it lacks against the latest image.
    std::vector<uint8_t>& writableFrameImage(ImageChanges& missed);

    VideoCapturePlatform& capture;
    MediaPlatform& media;
    ScreenClock& clock;

    std::unique_ptr<VideoDevice> screenDevice;
    std::unique_ptr<VideoContext> screenContext;
    std::unique_ptr<DesktopDuplication> screenDuplication;
    DuplicationMode duplicationDesc;
    std::unique_ptr<VideoTexture> lDestImage;
    DuplicationMode stagingDesc;  // the size and format lDestImage was made with

    // The display being recorded: output outputIndex of the device's adapter.
    uint32_t outputIndex = 0;
    std::optional<DisplayEntry> display;
    std::optional<DisplayEntry> movedTo;  // the primary display, when the default choice may move there
    std::optional<DisplayEntry> sameOutputElsewhere;  // a hybrid laptop's panel, listed by its other GPU too
    std::optional<HResult> unavailableAtStart;
    DuplicationStep lastFailedStep = DuplicationStep::deviceQuery;
    HResult lastDuplication = hresult::ok;
    // Frames whose format or rotation needs work before they are stored: the upright BGRA image.
    std::vector<uint8_t> upright;
    bool formatWarned = false;
    std::shared_ptr<spdlog::logger> settingsLogger;  // the recording's, for lines of the capture passes
    // The latest image. Samples share it with the writer, so a new image never overwrites one a
    // sample still holds: it goes into a spare buffer, and repeated images cost no copy.
    // A spare remembers what of the desktop changed since it was the latest image, so that it can
    // be brought up to date by copying only that.
    struct SpareImage {
        std::shared_ptr<std::vector<uint8_t>> image;
        ImageChanges missed;
    };
    std::shared_ptr<std::vector<uint8_t>> frameImage = std::make_shared<std::vector<uint8_t>>();
    std::vector<SpareImage> spareImages;
    // Damage-only work (the constant-rate and changes-only loops): the staging image mirrors the desktop between
    // frames, so a frame's changed parts are all that is copied into it and into the latest image,
    // and the writer is told which parts of the video changed since the last sample.
    bool damageOnly = false;
    bool wholeCopyNeeded = true;  // the staging image does not mirror the desktop
    ImageChanges unwritten{0, 0};  // video pixels changed since the last sample

    std::optional<CaptureArea> area;  // the usable capture area, none for the whole output
    VideoSize videoSize;              // fixed when the writer opens
    uint64_t samplesWritten = 0;
    bool writeFailureSaid = false;  // the file's write failure is in the log

    struct Outage {
        bool active = false;
        bool said = false;       // logged and listed for tracks.json
        bool newDevice = false;  // the device has to be made again before the duplication
        bool fromStart = false;  // no picture yet in this recording
        HResult cause = hresult::ok;
        int64_t wallStart = 0;
        CaptureBackoff backoff;
    };
    Outage outage;
};
