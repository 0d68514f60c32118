#include <algorithm>

#include <spdlog/fmt/fmt.h>

#include "recording_status.h"
#include "run_flags.h"
#include "screen/screen_log.h"
#include "screen/screen_recorder.h"
#include "screen_figures.h"
#include "track_events.h"

namespace {

constexpr int64_t ticksPerMilli = 10000;

double secondsOf(int64_t ticks) { return static_cast<double>(ticks) / 1e7; }

}  // namespace

void ScreenRecorder::openOutage(HResult cause) {
    outage = Outage{};
    outage.active = true;
    outage.cause = cause;
    outage.newDevice = needsNewDevice(cause);
    outage.wallStart = clock.wallTicks();
    outage.backoff.start(clock.steadyTicks());
}

ScreenRecorder::Acquired ScreenRecorder::beginOutage(HResult cause, const RecordingSettings& settings) {
    // The system refuses a second duplication of an output while one is held.
    screenDuplication.reset();
    openOutage(cause);
    if (outage.newDevice) {
        screenLog(settings).info("screenRecorder: the graphics device was removed (0x{:08X}); making a new one", static_cast<uint32_t>(cause));
    }
    // Most losses (a mode change, a full-screen application starting) pass at once: the first
    // attempt says what fails in the usual lines, and only a lasting loss is an outage.
    if (retryCapture(settings, true)) return Acquired::none;
    outage.said = true;
    beginTrackOutage("screen", outage.wallStart);
    reportTrackEvent(screenLog(settings), TrackEventKind::outage, "screen", TrackEventCode::captureOutage,
                     fmt::format("screenRecorder: screen capture interrupted (0x{:08X}); the video holds the last image while "
                                 "the capture is tried again",
                                 static_cast<uint32_t>(cause)));
    return screenRunning.load() ? Acquired::none : Acquired::stopped;
}

void ScreenRecorder::beginOutageAtStart(const RecordingSettings& settings) {
    const HResult cause = *unavailableAtStart;
    unavailableAtStart.reset();
    openOutage(cause);
    outage.said = true;
    outage.fromStart = true;
    beginTrackOutage("screen", outage.wallStart);
    reportTrackEvent(screenLog(settings), TrackEventKind::outage, "screen", TrackEventCode::captureOutage,
                     fmt::format("screenRecorder: screen capture interrupted (0x{:08X}); the video is black until the capture is "
                                 "tried again successfully",
                                 static_cast<uint32_t>(cause)));
}

ScreenRecorder::Acquired ScreenRecorder::waitInOutage(const RecordingSettings& settings, uint32_t timeoutMillis) {
    // As long as an acquire would have waited, or a frame's interval when the loop asks without
    // waiting, so that the held image is written at the video's rate and not as fast as possible.
    const uint32_t frameMillis = 1000 / std::max<uint32_t>(VIDEO_FPS, 1);
    const int64_t now = clock.steadyTicks();
    if (!outage.backoff.due(now)) {
        const int64_t untilDue = (outage.backoff.untilDue(now) + ticksPerMilli - 1) / ticksPerMilli;
        clock.sleepMillis(static_cast<uint32_t>(std::min<int64_t>(timeoutMillis > 0 ? timeoutMillis : frameMillis, untilDue)));
    }
    if (!screenRunning.load()) return Acquired::stopped;
    if (outage.backoff.due(clock.steadyTicks())) retryCapture(settings, false);
    return Acquired::none;
}

bool ScreenRecorder::retryCapture(const RecordingSettings& settings, bool loud) {
    // Retries say nothing: the first attempt's lines said what fails, and an outage can last hours.
    RecordingSettings quiet = settings;
    quiet.logger.reset();
    const RecordingSettings& use = loud ? settings : quiet;
    if (!outage.newDevice && screenDevice && failed(screenDevice->removedReason())) outage.newDevice = true;
    bool ready = true;
    if (outage.newDevice) {
        ready = succeeded(recreateDevice(use));
        if (ready) outage.newDevice = false;
    }
    if (ready) ready = prepare(use);
    if (ready && !sameDisplayAgain()) {
        // Another display took the output's place: find the recorded one again by its name.
        screenDuplication.reset();
        lDestImage.reset();
        ready = false;
        outage.newDevice = true;
        outage.backoff.attemptFailed(clock.steadyTicks());
        return false;
    }
    if (ready) {
        publishDisplay();  // the display may have moved on the desktop meanwhile
        endOutage(settings, false);
        return true;
    }
    // A device lost while the desktop was away shows only now; an output that is gone from the
    // adapter, or a device the output no longer accepts, means the displays were rearranged.
    const bool rearranged = lastFailedStep == DuplicationStep::enumOutputs ||
                            (lastFailedStep == DuplicationStep::duplicateOutput && lastDuplication == hresult::invalidArgument);
    if ((screenDevice && failed(screenDevice->removedReason())) || rearranged) outage.newDevice = true;
    outage.backoff.attemptFailed(clock.steadyTicks());
    return false;
}

bool ScreenRecorder::sameDisplayAgain() {
    OutputDescription now;
    if (!display || !screenDuplication || !screenDuplication->describeOutput(now)) return true;
    if (now.deviceName != display->output.deviceName) return false;
    display->output.left = now.left;
    display->output.top = now.top;
    display->output.right = now.right;
    display->output.bottom = now.bottom;
    return true;
}

void ScreenRecorder::endOutage(const RecordingSettings& settings, bool recordingEnded) {
    const bool said = outage.said;
    const Outage ended = outage;
    const int64_t lasted = outage.backoff.lasted(clock.steadyTicks());
    outage = Outage{};
    if (!said) return;
    endTrackOutage("screen", clock.wallTicks());
    if (recordingEnded && ended.fromStart) {
        // Not a single picture: the track failed, whatever the file holds.
        reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", TrackEventCode::captureOutage,
                         fmt::format("screenRecorder: {} could not be captured during the whole recording (0x{:08X}); the video is black",
                                     display ? display->output.deviceName : std::string("the display"),
                                     static_cast<uint32_t>(ended.cause)));
        return;
    }
    const std::string message =
        recordingEnded ? fmt::format("screenRecorder: the recording ended {:.1f} s into a screen capture outage; the video holds the last "
                                     "image to its end",
                                     secondsOf(lasted))
                       : fmt::format("screenRecorder: screen capture is back after {:.1f} s", secondsOf(lasted));
    reportTrackEvent(screenLog(settings), TrackEventKind::back, "screen", TrackEventCode::captureOutage, message);
}
