#include <algorithm>

#include "recording_status.h"
#include "run_flags.h"
#include "screen/screen_log.h"
#include "screen/screen_recorder.h"
#include "screen_figures.h"

namespace {

constexpr int64_t ticksPerSecond = 10000000;

}  // namespace

// A sample is written for each change of the picture, at once and timed when it was captured;
// an unchanged desktop costs a wake-up per frame interval and nothing else. The first sample is
// written as soon as there is a picture, changed or not.
ScreenRecorder::LoopEnd ScreenRecorder::changesLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings) {
    // A change ends the wait at once; its bound is how often the run flags are looked at: one
    // frame interval, and no less than 10 ms so that a still desktop stays cheap at any rate.
    const uint32_t waitMillis = std::max<uint32_t>(10, 1000 / VIDEO_FPS);
    damageOnly = true;
    unwritten = ImageChanges(videoSize.width, videoSize.height);
    int64_t firstSteady = 0;
    int64_t previousSteady = 0;
    int64_t sampleTime = 0;
    int64_t firstSampleWallTicks = 0;

    while (screenRunning.load()) {
        const bool recording = screenRecording.load();
        // A recording that starts without a picture (an outage) starts black, as the other loops do.
        const bool firstDue = recording && samplesWritten == 0 && (!frameImage->empty() || outage.active);
        std::unique_ptr<DesktopResource> resource;
        const Acquired got = acquireFrame(resource, settings, firstDue ? 0 : waitMillis);
        if (got == Acquired::stopped) break;
        if (got == Acquired::failed) return LoopEnd::failed;
        const bool frameAcquired = got == Acquired::frame;
        // The sample shows the desktop as it was when the change was taken, not after the copy.
        const int64_t capturedSteady = clock.steadyTicks();
        const int64_t capturedWall = recording && samplesWritten == 0 ? clock.wallTicks() : 0;
        if (frameAcquired) captureFrame(resource.get(), true);

        // Only a change inside the video counts: the pointer alone, or a part of the desktop
        // outside the area, is no new picture.
        const bool due = samplesWritten == 0 ? !frameImage->empty() || outage.active : !unwritten.none();
        if (!recording || !due) {
            if (frameAcquired) screenDuplication->releaseFrame();
            if (samplesWritten > 0) markTrackEnd(recordingStatus.screenTiming, capturedSteady - firstSteady);
            continue;
        }
        int64_t sampleDuration = 0;
        if (samplesWritten == 0) {
            firstSteady = capturedSteady;
            firstSampleWallTicks = capturedWall;
        } else {
            sampleDuration = capturedSteady - previousSteady;
            sampleTime = capturedSteady - firstSteady;
        }
        previousSteady = capturedSteady;
        if (failed(writeFrame(writer, streamIndex, sampleTime, sampleDuration, frameAcquired))) {
            logWriteFailed(writer, settings);
            return LoopEnd::failed;
        }
        if (samplesWritten == 1) noteFirstSample(firstSampleWallTicks, settings);
        markTrackEnd(recordingStatus.screenTiming, sampleTime + (sampleDuration > 0 ? sampleDuration : ticksPerSecond / VIDEO_FPS));
    }
    if (samplesWritten == 0) return LoopEnd::stopped;

    // The last picture lasts until the recording ends.
    const int64_t endTime = std::max(clock.steadyTicks() - firstSteady, sampleTime + 1);
    if (writer.endStreamAt(streamIndex, endTime) == hresult::notImplemented && endTime - sampleTime > ticksPerSecond / VIDEO_FPS) {
        // A writer that cannot be told gets the picture once more at the end (lasting one nominal
        // frame), so the file still reaches it.
        if (failed(writeFrame(writer, streamIndex, endTime, ticksPerSecond / VIDEO_FPS, false))) {
            logWriteFailed(writer, settings);
            return LoopEnd::failed;
        }
    }
    markTrackEnd(recordingStatus.screenTiming, endTime);
    return LoopEnd::stopped;
}
