#include "screen/screen_recorder.h"

#include <algorithm>
#include <string>

#include "recording_status.h"
#include "recording_journal.h"
#include "run_flags.h"
#include "platform/thread_dpi.h"
#include "pointer_shape_feed.h"
#include "screen/screen_log.h"
#include "screen/upright_image.h"
#include "track_events.h"
#include "screen_figures.h"
#include "track_events.h"

namespace {

constexpr uint32_t defaultFps = 30;
constexpr uint32_t defaultBitRate = 18000000;
constexpr int64_t ticksPerSecond = 10000000;

}  // namespace

void runScreenRecorder(RecordingSettings settings) {
    // The desktop's size and image in physical pixels, as the input thread sees positions.
    const PhysicalPixelsOnThisThread physicalPixels;
    std::unique_ptr<VideoCapturePlatform> capture = createVideoCapturePlatform();
    std::unique_ptr<MediaPlatform> media = createMediaPlatform();
    SystemScreenClock clock;
    ScreenRecorder recorder(*capture, *media, clock);
    recorder.run(std::move(settings));
}

ScreenRecorder::ScreenRecorder(VideoCapturePlatform& capturePlatform, MediaPlatform& mediaPlatform, ScreenClock& screenClock)
    : capture(capturePlatform), media(mediaPlatform), clock(screenClock) {}

// Objects still held after an early end are released in reverse order of creation.
ScreenRecorder::~ScreenRecorder() {
    lDestImage.reset();
    screenDuplication.reset();
    screenContext.reset();
    screenDevice.reset();
}

void ScreenRecorder::publishRateFigures(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    // The encoder cannot take a rate of zero or less: such a setting keeps the default, and the
    // figures report what the file really has.
    if (settings.fps <= 0) {
        log.info("screenRecorder: fps {} is not usable, using {}", settings.fps, defaultFps);
    }
    if (settings.bitrate <= 0) {
        log.info("screenRecorder: bitrate {} is not usable, using {}", settings.bitrate, defaultBitRate);
    }
    VIDEO_FPS = settings.fps > 0 ? static_cast<uint32_t>(settings.fps) : defaultFps;
    log.info("screenRecorder: VIDEO_FPS: {}", VIDEO_FPS);
    VIDEO_BIT_RATE = settings.bitrate > 0 ? static_cast<uint32_t>(settings.bitrate) : defaultBitRate;
    log.info("screenRecorder: VIDEO_BIT_RATE: {}", VIDEO_BIT_RATE);
}

void ScreenRecorder::run(RecordingSettings settings) {
    spdlog::logger& log = screenLog(settings);
    settingsLogger = settings.logger;
    formatWarned = false;
    // meta.json must not describe an earlier recording when this one gets less far.
    VIDEO_WIDTH = 0;
    VIDEO_HEIGHT = 0;
    recordedArea = CaptureArea{};
    recordingStartTime = 0;
    setTrackDevice("screen", settings.display >= 0 ? "display " + std::to_string(settings.display) : std::string("output 0"));
    publishRateFigures(settings);
    std::string unavailable;
    if (!media.librariesAvailable(unavailable)) {
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, fmt::format("screenRecorder: {}; no screen video is recorded", unavailable));
        return;
    }
    logAdapters(settings);

    if (!setUpCapture(settings)) return;
    for (const CaptureNote& note : capture.captureNotes()) {
        if (note.partial) {
            reportTrackEvent(log, TrackEventKind::warning, "screen", TrackEventCode::partialCapture, "screenRecorder: " + note.text);
        } else {
            log.info("screenRecorder: {}", note.text);
        }
    }
    if (failed(media.initializeThread())) return;
    if (failed(media.startup())) {
        releaseResources(settings);
        media.uninitializeThread();
        return;
    }

    area = usableCaptureArea(settings.area);
    if (settings.area.inForce() && !area) {
        const CaptureArea& given = settings.area;
        log.info("screenRecorder: capture area [{}, {}, {}, {}] is not usable, recording the whole output", given.left,
                 given.top, given.right, given.bottom);
    }
    videoSize = videoSizeFor(area, duplicationDesc.width, duplicationDesc.height);
    VIDEO_WIDTH = videoSize.width;
    VIDEO_HEIGHT = videoSize.height;
    recordedArea = area.value_or(CaptureArea{});

    std::unique_ptr<SinkWriter> writer;
    uint32_t streamIndex = 0;
    if (failed(initializeSinkWriter(writer, streamIndex, settings))) {
        writer.reset();  // a writer that wrote nothing leaves no file
        media.shutdown();
        releaseResources(settings);
        media.uninitializeThread();
        return;
    }
    log.info("screenRecorder: InitializeSinkWriter success");

    writeFailureSaid = false;
    outage = Outage{};
    if (unavailableAtStart) beginOutageAtStart(settings);
    const LoopEnd end = captureLoop(*writer, streamIndex, settings);
    if (outage.active) endOutage(settings, true);
    if (end == LoopEnd::stopped) {
        if (!failed(writer->finalize())) log.info("screenRecorder: Finalize success");
    } else if (samplesWritten > 0) {
        // Keep what was recorded before the error playable.
        if (!failed(writer->finalize())) {
            log.info("screenRecorder: {} samples written before the error were kept", samplesWritten);
        }
    } else {
        writer->finalize();  // removes the empty file
    }
    logFileProblems(*writer, settings);

    // The writer is a Media Foundation object: released before the platform shuts down.
    writer.reset();
    media.shutdown();
    releaseResources(settings);
    media.uninitializeThread();
}

void ScreenRecorder::sayDuplicationFailure(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    // The platform's own words first: they are what the track's status shows.
    reportPlatformReason(settings, TrackEventCode::openFailed);
    switch (lastFailedStep) {
        case DuplicationStep::deviceQuery: reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: prepare failed"); break;
        case DuplicationStep::adapterParent: break;
        case DuplicationStep::enumOutputs: reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: EnumOutputs failed"); break;
        case DuplicationStep::output1Query: reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: lDxgiOutput1 is null"); break;
        case DuplicationStep::duplicateOutput:
            reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: DuplicateOutput failed");
            log.error("screenRecorder: Operation failed. HRESULT: 0x{:X}, Message: {}", static_cast<uint32_t>(lastDuplication),
                      capture.messageText(lastDuplication));
            break;
    }
}

bool ScreenRecorder::prepare(const RecordingSettings& settings, bool quietRefusal) {
    spdlog::logger& log = screenLog(settings);
    if (!screenDevice) {
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: prepare failed");
        return false;
    }
    // The system refuses to duplicate an output that is still duplicated (E_INVALIDARG): let go of
    // what an earlier attempt left, whether it failed at a texture or the duplication was lost.
    lDestImage.reset();
    screenDuplication.reset();
    std::unique_ptr<DesktopDuplication> duplication;
    lastFailedStep = DuplicationStep::deviceQuery;
    lastDuplication = screenDevice->duplicateOutput(outputIndex, duplication, lastFailedStep);
    if (failed(lastDuplication) || !duplication) {
        if (!failed(lastDuplication)) lastDuplication = hresult::fail;
        if (!quietRefusal) sayDuplicationFailure(settings);
        return false;
    }
    screenDuplication = std::move(duplication);
    wholeCopyNeeded = true;  // a new staging image holds nothing yet
    const DuplicationMode previousMode = duplicationDesc;
    duplicationDesc = screenDuplication->mode();
    if (duplicationDesc.width != previousMode.width || duplicationDesc.height != previousMode.height) {
        spareImages.clear();  // they cover the old desktop's part of the video
        if (frameImage.use_count() > 1) frameImage = std::make_shared<std::vector<uint8_t>>(*frameImage);
    }

    // Frames keep the display's unrotated orientation and arrive as B8G8R8A8 whatever the mode's
    // format (an HDR mode is R16G16B16A16_FLOAT); the first frame remakes the texture if its own
    // description says otherwise.
    DuplicationMode staging = duplicationDesc;
    if (staging.rotation == 90 || staging.rotation == 270) std::swap(staging.width, staging.height);
    staging.format = pixelFormatB8G8R8A8;
    staging.rotation = 0;
    std::unique_ptr<VideoTexture> texture;
    if (failed(screenDevice->createTexture(TextureKind::staging, staging, texture))) {
        reportPlatformReason(settings, TrackEventCode::openFailed);
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: CreateTexture2D failed");
        return false;
    }
    if (!texture) {
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: lDestImage is null");
        return false;
    }
    lDestImage = std::move(texture);
    stagingDesc = staging;
    return true;
}

ScreenRecorder::Acquired ScreenRecorder::acquireFrame(std::unique_ptr<DesktopResource>& resource, const RecordingSettings& settings,
                                                     uint32_t timeoutMillis) {
    spdlog::logger& log = screenLog(settings);
    if (outage.active) return waitInOutage(settings, timeoutMillis);
    const HResult acquired = screenDuplication->acquireNextFrame(timeoutMillis, resource);
    if (acquired == hresult::waitTimeout) {
        resource.reset();
        return Acquired::none;
    }
    if (acquired == hresult::accessLost) log.info("screenRecorder: AcquireNextFrame DXGI_ERROR_ACCESS_LOST");
    if (isCaptureOutage(acquired)) {
        resource.reset();
        return beginOutage(acquired, settings);
    }
    if (failed(acquired)) {
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::captureFailed, "screenRecorder: AcquireNextFrame failed", TrackEventLine::info);
        return Acquired::failed;
    }
    // The cursor images take the pointer's new shape (an animated cursor's frame) from here; it
    // is only queued, never converted on this thread.
    if (settings.pointerShapes) {
        PointerShape shape;
        if (screenDuplication->newPointerShape(shape)) settings.pointerShapes->put(std::move(shape));
    }
    return Acquired::frame;
}

void ScreenRecorder::logWriteFailed(const SinkWriter& writer, const RecordingSettings& settings) {
    const std::string line = videoWriteFailureLine(writer, screenFileName);
    if (line.empty()) {
        reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", TrackEventCode::writeFailed,
                         "screenRecorder: WriteFrame failed", TrackEventLine::info);
        return;
    }
    reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", writeFailureCode(writer.writeFailure()),
                     "screenRecorder: " + line);
    writeFailureSaid = true;
}

void ScreenRecorder::logFileProblems(const SinkWriter& writer, const RecordingSettings& settings) {
    const VideoFileLines lines = videoFileLines(writer, screenFileName, writeFailureSaid);
    if (!lines.error.empty()) {
        reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", writeFailureCode(writer.writeFailure()),
                         "screenRecorder: " + lines.error);
    }
    if (!lines.warning.empty()) {
        reportTrackEvent(screenLog(settings), TrackEventKind::warning, "screen", TrackEventCode::writeFailed,
                         "screenRecorder: " + lines.warning);
    }
}

void ScreenRecorder::noteFirstSample(int64_t wallTicks, const RecordingSettings& settings) {
    // Only a sample in the file starts the recording.
    recordingStartTime = wallTicks / 10000;
    markTrackStart(recordingStatus.screenTiming, wallTicks);
    journalMeta(settings);
}

ScreenRecorder::LoopEnd ScreenRecorder::captureLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings) {
    if (settings.constantFrameRate) return constantRateLoop(writer, streamIndex, settings);
    if (settings.changesOnly) return changesLoop(writer, streamIndex, settings);
    int64_t sampleTime = 0;
    int64_t sampleDuration = 0;
    int64_t previousReading = 0;
    int64_t firstSampleWallTicks = 0;
    bool firstSample = true;

    if (!screenRunning.load()) return LoopEnd::stopped;
    do {
        std::unique_ptr<DesktopResource> resource;
        const Acquired got = acquireFrame(resource, settings);
        if (got == Acquired::stopped) return LoopEnd::stopped;
        if (got == Acquired::failed) return LoopEnd::failed;
        const bool frameAcquired = got == Acquired::frame;

        // The sample shows the desktop as it was acquired, not as it was after the copy. While
        // paused the desktop is still followed, and the pauses are left out of the sample times.
        const bool dating = screenRecording.load() && !recordingPaused();
        const int64_t acquiredWall = dating && firstSample ? clock.wallTicks() : 0;
        const int64_t acquiredSteady = dating ? clock.steadyTicks() - pausedTicksSoFar() : 0;
        captureFrame(resource.get());

        if (!dating) {
            if (frameAcquired) screenDuplication->releaseFrame();
        } else {
            if (firstSample) {
                firstSampleWallTicks = acquiredWall;
                firstSample = false;
                sampleTime = 0;
                previousReading = acquiredSteady;
            } else {
                sampleDuration = acquiredSteady - previousReading;
                sampleTime += sampleDuration;
                previousReading = acquiredSteady;
            }
            if (failed(writeFrame(writer, streamIndex, sampleTime, sampleDuration, frameAcquired))) {
                logWriteFailed(writer, settings);
                return LoopEnd::failed;
            }
            if (samplesWritten == 1) noteFirstSample(firstSampleWallTicks, settings);
            // Where the file ends: the writer gives each sample its duration, the first one a
            // nominal interval.
            markTrackEnd(recordingStatus.screenTiming, sampleTime + (sampleDuration > 0 ? sampleDuration : ticksPerSecond / VIDEO_FPS));
        }
    } while (screenRunning.load());
    return LoopEnd::stopped;
}

ScreenRecorder::LoopEnd ScreenRecorder::constantRateLoop(SinkWriter& writer, uint32_t streamIndex, const RecordingSettings& settings) {
    const int64_t fps = VIDEO_FPS;
    // Tick n is at n / fps seconds from the first sample; in 100 ns, rounded down. Sample n stands
    // for the slot from tick n to tick n + 1.
    const auto tickTime = [fps](int64_t n) { return n * ticksPerSecond / fps; };
    damageOnly = true;
    unwritten = ImageChanges(videoSize.width, videoSize.height);
    int64_t firstTickSteady = 0;
    int64_t firstSampleWallTicks = 0;
    int64_t nextTick = 0;
    bool started = false;

    while (screenRunning.load()) {
        std::unique_ptr<DesktopResource> resource;
        if (!screenRecording.load() || recordingPaused()) {
            const Acquired got = acquireFrame(resource, settings, static_cast<uint32_t>(1000 / fps));
            if (got == Acquired::stopped) return LoopEnd::stopped;
            if (got == Acquired::failed) return LoopEnd::failed;
            if (got == Acquired::frame) {
                captureFrame(resource.get(), true);
                screenDuplication->releaseFrame();
            }
            continue;
        }
        // The grid runs on a clock that leaves the pauses out.
        if (!started) {
            started = true;
            firstTickSteady = clock.steadyTicks() - pausedTicksSoFar();
            firstSampleWallTicks = clock.wallTicks();
        }
        const int64_t now = clock.steadyTicks() - pausedTicksSoFar() - firstTickSteady;
        if (now < tickTime(nextTick)) {
            // Asleep until the slot opens; the flags are looked at again then.
            clock.sleepMillis(static_cast<uint32_t>((tickTime(nextTick) - now + 9999) / 10000));
            continue;
        }
        // Within its slot the sample waits for the desktop to change and takes the change at once,
        // so a scene that changes once a slot is caught whatever its phase against the ticks; a
        // change that comes after the slot's sample goes to the next one. A loop that fell behind
        // takes what there is and gives it to every slot it missed, so the grid stays whole.
        const int64_t slotEnd = tickTime(nextTick + 1);
        const int64_t lastDue = std::max(nextTick, now * fps / ticksPerSecond);
        const uint32_t wait = now < slotEnd ? static_cast<uint32_t>((slotEnd - now) / 10000) : 0;
        const Acquired got = acquireFrame(resource, settings, wait);
        if (got == Acquired::stopped) return LoopEnd::stopped;
        if (got == Acquired::failed) return LoopEnd::failed;
        bool frameAcquired = got == Acquired::frame;
        captureFrame(resource.get(), true);
        do {
            const int64_t time = tickTime(nextTick);
            if (failed(writeFrame(writer, streamIndex, time, tickTime(nextTick + 1) - time, frameAcquired))) {
                logWriteFailed(writer, settings);
                return LoopEnd::failed;
            }
            frameAcquired = false;
            if (samplesWritten == 1) noteFirstSample(firstSampleWallTicks, settings);
            ++nextTick;
            markTrackEnd(recordingStatus.screenTiming, tickTime(nextTick));
        } while (nextTick <= lastDue);
    }
    return LoopEnd::stopped;
}

bool ScreenRecorder::stagingFor(const DuplicationMode& frame) {
    if (lDestImage && frame.width == stagingDesc.width && frame.height == stagingDesc.height && frame.format == stagingDesc.format) {
        return true;
    }
    lDestImage.reset();
    DuplicationMode wanted = frame;
    wanted.rotation = 0;
    std::unique_ptr<VideoTexture> texture;
    if (!screenDevice || failed(screenDevice->createTexture(TextureKind::staging, wanted, texture)) || !texture) return false;
    lDestImage = std::move(texture);
    stagingDesc = wanted;
    wholeCopyNeeded = true;  // the new texture holds nothing yet
    return true;
}

bool ScreenRecorder::captureFrame(DesktopResource* resource, bool useChanges) {
    if (resource == nullptr || !screenContext || !screenDevice) return false;
    std::unique_ptr<VideoTexture> texture = resource->queryTexture();
    if (!texture) return false;
    // The frame's own description rules: a mode's format says nothing of the frames' (an HDR mode
    // is R16G16B16A16_FLOAT while its frames are B8G8R8A8).
    DuplicationMode frame = stagingDesc;
    DuplicationMode told;
    if (texture->describe(told) && told.width > 0 && told.height > 0) frame = told;
    if (!isConvertibleFormat(frame.format) || !stagingFor(frame)) {
        if (!formatWarned && settingsLogger) {
            reportTrackEvent(*settingsLogger, TrackEventKind::warning, "screen", TrackEventCode::unsupportedFormat,
                             fmt::format("screenRecorder: frames of {}x{} in pixel format {} cannot be read; the video keeps "
                                         "the last image",
                                         frame.width, frame.height, frame.format));
        }
        formatWarned = true;
        return false;
    }
    const uint32_t rotation = duplicationDesc.rotation;
    uint32_t desktopWidth = 0;
    uint32_t desktopHeight = 0;
    uprightSize(frame.width, frame.height, rotation, desktopWidth, desktopHeight);
    const bool reshaped = rotation != 0 || !isBgra8Format(frame.format);

    // What changed, in the frame's own pixels (for the copies on the device) and on the upright
    // desktop (for the image and the writer).
    ImageChanges frameChanges(frame.width, frame.height);
    std::vector<ImageRect> rects;
    if (useChanges && !wholeCopyNeeded && screenDuplication->changedRects(rects)) {
        frameChanges.clear();
        for (const ImageRect& rect : rects) frameChanges.add(rect);
    }
    if (frameChanges.none()) return true;  // only the pointer moved, or nothing of this output changed
    if (frameChanges.whole()) {
        screenContext->copyResource(*lDestImage, *texture);
    } else {
        for (const ImageRect& rect : frameChanges.rects()) screenContext->copyRegion(*lDestImage, *texture, rect);
    }
    MappedImage image;
    if (failed(screenContext->map(*lDestImage, image))) {
        wholeCopyNeeded = true;
        return false;
    }
    wholeCopyNeeded = false;
    ImageChanges changes(desktopWidth, desktopHeight);
    if (!frameChanges.whole()) {
        changes.clear();
        for (const ImageRect& rect : frameChanges.rects()) changes.add(uprightRect(rect, frame.width, frame.height, rotation));
    }
    const uint8_t* pixels = image.data;
    uint32_t rowPitch = image.rowPitch;
    if (reshaped) {
        // The upright image mirrors the desktop between frames, so only what changed is redone.
        const size_t uprightBytes = static_cast<size_t>(desktopWidth) * desktopHeight * 4;
        const bool fresh = upright.size() != uprightBytes;
        upright.resize(uprightBytes);
        if (fresh || frameChanges.whole()) {
            const ImageRect all{0, 0, static_cast<int32_t>(frame.width), static_cast<int32_t>(frame.height)};
            storeUpright(upright, image.data, image.rowPitch, frame.width, frame.height, frame.format, rotation, all);
            changes.addWhole();
        } else {
            for (const ImageRect& rect : frameChanges.rects()) {
                storeUpright(upright, image.data, image.rowPitch, frame.width, frame.height, frame.format, rotation, rect);
            }
        }
        pixels = upright.data();
        rowPitch = desktopWidth * 4;
    }
    // After a desktop size change the whole-output video keeps its size: the new desktop is
    // cropped or padded at its top-left corner.
    std::optional<CaptureArea> region = area;
    if (!region && (desktopWidth != videoSize.width || desktopHeight != videoSize.height)) {
        region = CaptureArea{0, 0, static_cast<int32_t>(videoSize.width), static_cast<int32_t>(videoSize.height)};
    }
    ImageChanges missed(desktopWidth, desktopHeight);
    std::vector<uint8_t>& target = writableFrameImage(missed);
    missed.add(changes);
    bool stored = true;
    if (missed.whole()) {
        stored = storeFrameImage(target, pixels, rowPitch, desktopWidth, desktopHeight, region);
    } else {
        for (const ImageRect& rect : missed.rects()) {
            storeFrameRegion(target, pixels, rowPitch, desktopWidth, desktopHeight, region, rect);
        }
    }
    screenContext->unmap(*lDestImage);
    for (SpareImage& spare : spareImages) spare.missed.add(changes);
    if (changes.whole()) {
        unwritten.addWhole();
    } else {
        for (const ImageRect& rect : changes.rects()) unwritten.add(videoRectFor(rect, region, videoSize));
    }
    return stored;
}

std::vector<uint8_t>& ScreenRecorder::writableFrameImage(ImageChanges& missed) {
    missed.clear();
    if (frameImage.use_count() == 1) return *frameImage;
    // Every buffer of a recording covers the same part of the desktop, so a spare's rows outside
    // the desktop are as black as a new buffer's; only its covered rows are rewritten.
    for (SpareImage& spare : spareImages) {
        if (spare.image.use_count() == 1) {
            std::swap(spare.image, frameImage);
            missed.add(spare.missed);
            spare.missed.clear();  // it now holds the latest image
            return *frameImage;
        }
    }
    constexpr size_t maxSpares = 6;
    if (spareImages.size() < maxSpares) {
        spareImages.push_back({frameImage, ImageChanges(duplicationDesc.width, duplicationDesc.height)});
        spareImages.back().missed.clear();
    }
    frameImage = std::make_shared<std::vector<uint8_t>>();
    missed.addWhole();
    return *frameImage;
}

void ScreenRecorder::releaseResources(const RecordingSettings& settings) {
    screenDevice.reset();
    screenContext.reset();
    screenDuplication.reset();
    lDestImage.reset();
    frameImage = std::make_shared<std::vector<uint8_t>>();  // a sample may still hold the old one
    spareImages.clear();
    screenRunning.exchange(false);
    screenRecording.exchange(false);
    screenLog(settings).info("screenRecorder: All resources have been released safely.");
}
