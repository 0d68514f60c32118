#include "webcam/webcam_recorder.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <spdlog/logger.h>

#include "recording_status.h"
#include "run_flags.h"
#include "track_events.h"
#include "wall_clock.h"

namespace {

spdlog::logger& webcamLog(const RecordingSettings& settings) {
    static spdlog::logger silent("webcam_silent");
    return settings.logger ? *settings.logger : silent;
}

const char* listStepLine(CameraListStep step) {
    switch (step) {
        case CameraListStep::createAttributes: return "WebcamRecorder:Error creating video configuration.";
        case CameraListStep::setSourceType: return "WebcamRecorder:Error initialising video configuration object.";
        case CameraListStep::enumerate: break;
    }
    return "WebcamRecorder:Error enumerating video devices.";
}

const char* writerStepLine(WebcamWriterStep step) {
    switch (step) {
        case WebcamWriterStep::createAttributes: return "WebcamRecorder:Failed to create attributes.";
        case WebcamWriterStep::enableHardwareTransforms: return "WebcamRecorder:Failed to enable hardware transforms.";
        case WebcamWriterStep::enableLowLatency: return "WebcamRecorder:Failed to enable low latency mode.";
        case WebcamWriterStep::createSinkWriter: return "WebcamRecorder:Error creating mp4 sink writer.";
        case WebcamWriterStep::registerColourConverter: return "WebcamRecorder:Error registering colour converter DSP.";
        case WebcamWriterStep::createOutputType:
            return "WebcamRecorder:Configure encoder failed to create media type for video output sink.";
        case WebcamWriterStep::copyNativeType: return "WebcamRecorder:Error copying media type attributes from native type.";
        case WebcamWriterStep::setH264Subtype:
            return "WebcamRecorder:Failed to set video writer attribute, video format (H.264).";
        case WebcamWriterStep::setBitrate: return "WebcamRecorder:Error setting average bit rate.";
        case WebcamWriterStep::setInterlaceMode: return "WebcamRecorder:Error setting interlace mode.";
        case WebcamWriterStep::setProfile: return "WebcamRecorder:Failed to set profile on H264 MFT out type.";
        case WebcamWriterStep::addStream: return "WebcamRecorder:Failed to add the video stream to the sink writer.";
        case WebcamWriterStep::setInputType: return "WebcamRecorder:Error setting the sink writer video input type.";
        case WebcamWriterStep::beginWriting: break;
    }
    return "WebcamRecorder:Failed to begin writing on the H.264 sink.";
}

// Sleeps for `period` in short steps; false as soon as the recording ends.
bool waitWhileRecording(std::chrono::milliseconds period) {
    constexpr std::chrono::milliseconds step{20};
    for (auto waited = std::chrono::milliseconds(0); waited < period; waited += step) {
        if (!webcamRunning.load()) return false;
        std::this_thread::sleep_for(std::min(step, period - waited));
    }
    return webcamRunning.load();
}

}  // namespace

void recordWebcam(RecordingSettings settings) {
    const std::unique_ptr<CameraPlatform> platform = createCameraPlatform();
    // Sample times come from the steady clock, as the screen's and the audio's do: the wall clock
    // can be set or stepped while recording, which would move every later sample.
    WebcamRecorder recorder(*platform, [] {
        using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
        return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
    });
    recorder.run(settings);
}

void logNativeMediaType(CameraMediaType& type, uint32_t index, std::shared_ptr<spdlog::logger> logger) {
    if (!logger) return;
    // A value the type lacks shows as zero.
    MediaGuid subtype;
    uint32_t width = 0, height = 0, numerator = 0, denominator = 0;
    type.subtype(subtype);
    if (failed(type.frameSize(width, height))) width = height = 0;
    if (failed(type.frameRate(numerator, denominator))) numerator = denominator = 0;
    logger->info("Native Media Type {}:", index);
    logger->info("  Subtype: {}", guidText(subtype));
    logger->info("  Resolution: {}x{}", width, height);
    logger->info("  Frame Rate: {}/{} fps", numerator, denominator);
}

WebcamRecorder::WebcamRecorder(CameraPlatform& platformValue, std::function<int64_t()> clockValue,
                               std::chrono::milliseconds reopenPeriodValue)
    : platform(platformValue), clock(std::move(clockValue)), reopenPeriod(reopenPeriodValue) {}

void WebcamRecorder::run(const RecordingSettings& settings) {
    spdlog::logger& log = webcamLog(settings);
    std::string unavailable;
    if (!platform.librariesAvailable(unavailable)) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, fmt::format("WebcamRecorder:{}; no webcam video is recorded", unavailable));
        return;
    }
    if (failed(platform.initializeThread())) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:COM initialisation failed.");
        return;
    }
    if (failed(platform.startup())) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:Media Foundation initialisation failed.");
    } else {
        record(settings, log);  // releases every object it obtained (the writer last) before returning
        platform.shutdown();
    }
    platform.uninitializeThread();
}

WebcamRecorder::Open WebcamRecorder::open(const RecordingSettings& settings, spdlog::logger& log, Camera& camera, bool again,
                                          HResult& failure) {
    camera = Camera{};
    failure = hresult::ok;
    // A failure that says the camera is busy, blocked or gone is waited out; any other one ends
    // the track at the first opening and is tried again later.
    const auto fail = [&](HResult result, const char* line) {
        failure = result;
        if (again) return Open::unavailable;
        if (line != nullptr && cameraTroubleOf(result) == CameraTrouble::none) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, line);
            return Open::failed;
        }
        return Open::unavailable;
    };

    CameraListStep listStep = CameraListStep::enumerate;
    HResult result = platform.listDevices(camera.devices, listStep);
    if (failed(result)) {
        if (!again) reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, listStepLine(listStep));
        return again ? Open::unavailable : Open::failed;
    }
    size_t position = static_cast<size_t>(settings.webcamIndex);
    if (again) {
        // The same camera, by name, wherever it is listed now (plugged into another port).
        for (size_t i = 0; i < camera.devices.size(); ++i) {
            std::string name;
            if (succeeded(camera.devices[i]->friendlyName(name)) && name == cameraName) position = i;
        }
    }
    if (settings.webcamIndex < 0 || position >= camera.devices.size()) {
        if (again) return fail(hresult::videoDeviceRemoved, nullptr);
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed,
                         fmt::format("WebcamRecorder:No video device at index {} ({} found).", settings.webcamIndex, camera.devices.size()));
        return Open::failed;
    }
    CameraDevice& device = *camera.devices[position];
    std::string friendlyName;
    if (failed(device.friendlyName(friendlyName))) {
        if (!again) reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:Error retrieving video device friendly name.");
        return again ? Open::unavailable : Open::failed;
    }
    if (!again) {
        cameraName = friendlyName;
        setTrackDevice("webcam", friendlyName);
    }
    result = device.activate(camera.source);
    if (failed(result) || !camera.source) return fail(failed(result) ? result : hresult::fail, "WebcamRecorder:Error activating video device.");
    result = platform.createReader(*camera.source, camera.reader);
    if (failed(result) || !camera.reader) return fail(failed(result) ? result : hresult::fail, "WebcamRecorder:Error creating video source reader.");
    const Open chosen = chooseType(settings, log, camera, again);
    if (chosen != Open::ok) return chosen;
    result = camera.reader->setCurrentMediaType(*camera.chosen);
    if (failed(result)) return fail(result, "WebcamRecorder:Failed to set media type on source reader.");
    result = camera.reader->deliveredMediaType(camera.delivered);
    if (failed(result) || !camera.delivered) return fail(failed(result) ? result : hresult::fail, "WebcamRecorder:Failed to set media type on source reader.");
    return Open::ok;
}

WebcamRecorder::Open WebcamRecorder::chooseType(const RecordingSettings& settings, spdlog::logger& log, Camera& camera, bool again) {
    CameraReader& reader = *camera.reader;
    std::unique_ptr<CameraMediaType> first;
    if (failed(reader.nativeMediaType(0, first)) || !first) {
        if (!again) reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get native media type.");
        return again ? Open::unavailable : Open::failed;
    }
    std::vector<NativeTypeFacts> facts;
    std::vector<std::unique_ptr<CameraMediaType>> types;
    for (uint32_t index = 0;; ++index) {
        std::unique_ptr<CameraMediaType> type;
        const HResult listed = reader.nativeMediaType(index, type);
        if (listed == hresult::noMoreTypes) break;
        if (failed(listed) || !type) {
            // The list is only logged; the track goes on with the types it has.
            if (!typesListed) {
                reportTrackEvent(log, TrackEventKind::warning, "webcam", TrackEventCode::unsupportedFormat,
                                 fmt::format("WebcamRecorder:Failed to get native media type at index {}.", index), TrackEventLine::error);
            }
            break;
        }
        if (!typesListed) logNativeMediaType(*type, index, settings.logger);
        NativeTypeFacts fact;
        type->subtype(fact.subtype);
        type->frameSize(fact.width, fact.height);
        type->frameRate(fact.rateNumerator, fact.rateDenominator);
        fact.recordable = platform.canRecord(*type);
        facts.push_back(fact);
        types.push_back(std::move(type));
    }
    typesListed = true;

    size_t position = 0;
    if (recordedType) {
        // Opened again: the type the file was set up for, at another rate if need be.
        position = facts.size();
        for (size_t i = 0; i < facts.size() && position == facts.size(); ++i) {
            const NativeTypeFacts& f = facts[i];
            if (f.subtype == recordedType->subtype && f.width == recordedType->width && f.height == recordedType->height &&
                f.rateNumerator == recordedType->rateNumerator && f.rateDenominator == recordedType->rateDenominator) {
                position = i;
            }
        }
        for (size_t i = 0; i < facts.size() && position == facts.size(); ++i) {
            const NativeTypeFacts& f = facts[i];
            if (f.subtype == recordedType->subtype && f.width == recordedType->width && f.height == recordedType->height) position = i;
        }
        if (position == facts.size()) return Open::unavailable;
        camera.chosen = std::move(types[position]);
        return Open::ok;
    }

    position = chooseNativeType(facts, settings.webcamFormat);
    if (position >= types.size()) {
        position = 0;  // nothing the track can record: the first type, refused by the writer below
        camera.chosen = std::move(first);
    } else {
        camera.chosen = std::move(types[position]);
    }
    MediaGuid subtype;
    if (succeeded(camera.chosen->subtype(subtype))) {
        if (subtype == mediaSubtype::rgb24) {
            log.info("WebcamRecorder:Using RGB24 format.");
        } else if (subtype == mediaSubtype::yuy2) {
            log.info("WebcamRecorder:Using YUY2 format.");
        } else if (subtype == mediaSubtype::nv12) {
            log.info("WebcamRecorder:Using NV12 format.");
        }
    }
    uint32_t width = 0, height = 0, rateNumerator = 0, rateDenominator = 0;
    if (failed(camera.chosen->frameSize(width, height))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get frame size.");
        return Open::failed;
    }
    if (failed(camera.chosen->frameRate(rateNumerator, rateDenominator))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get frame rate.");
        return Open::failed;
    }
    if (position < facts.size()) {
        const NativeTypeFacts& f = facts[position];
        log.info("WebcamRecorder:webcamFormat {} chose native type {}: {} {}x{} at {:g} fps{}", webcamFormatText(settings.webcamFormat),
                 position, subtypeName(f.subtype), f.width, f.height, f.fps(),
                 position != 0 && settings.webcamFormat.rule == WebcamFormat::Rule::first ? " (native type 0 cannot be recorded)" : "");
        recordedType = f;
    }
    log.info("WebcamRecorder:Using native format: {}x{} @{} fps\n", width, height, rateNumerator);
    return Open::ok;
}

void WebcamRecorder::sayUnavailable(spdlog::logger& log, HResult failure, bool whileReading) {
    const std::string error = platform.errorText(failure);
    const char* reading = whileReading ? "Error reading video sample. " : "";
    switch (cameraTroubleOf(failure)) {
    case CameraTrouble::busy:
        reportTrackEvent(log, TrackEventKind::lost, "webcam", TrackEventCode::deviceBusy,
                         fmt::format("WebcamRecorder:{}\"{}\" is busy: another application is using it ({}); trying again about once a second",
                                     reading, cameraName, error));
        return;
    case CameraTrouble::accessDenied:
        reportTrackEvent(log, TrackEventKind::lost, "webcam", TrackEventCode::accessDenied,
                         fmt::format("WebcamRecorder:{}\"{}\" is blocked: camera access is off in the privacy settings or not "
                                     "allowed to this process ({}); trying again about once a second",
                                     reading, cameraName, error));
        return;
    case CameraTrouble::gone:
        reportTrackEvent(log, TrackEventKind::lost, "webcam", TrackEventCode::deviceLost,
                         fmt::format("WebcamRecorder:{}\"{}\" is gone: unplugged or its driver stopped ({}); trying again about once a second",
                                     reading, cameraName, error));
        return;
    case CameraTrouble::none: break;
    }
    reportTrackEvent(log, TrackEventKind::lost, "webcam", TrackEventCode::deviceLost,
                     fmt::format("WebcamRecorder:{}\"{}\" stopped delivering ({}); trying again about once a second", reading,
                                 cameraName, error));
}

// Opens the camera again about once a second until it is there or the recording ends.
bool WebcamRecorder::waitForCamera(const RecordingSettings& settings, spdlog::logger& log, Camera& camera) {
    HResult failure = hresult::ok;
    while (waitWhileRecording(reopenPeriod)) {
        if (open(settings, log, camera, true, failure) == Open::ok) return true;
        camera = Camera{};  // let go of a half-opened camera, so that the other application gets it
    }
    return false;
}

void WebcamRecorder::record(const RecordingSettings& settings, spdlog::logger& log) {
    // Declared before the writer, so that the writer is released first.
    Camera camera;
    std::unique_ptr<SinkWriter> writer;
    uint32_t streamIndex = 0;

    HResult failure = hresult::ok;
    const Open opened = open(settings, log, camera, false, failure);
    if (opened == Open::failed) return;
    if (opened == Open::unavailable) {
        const int64_t trackBegan = clock();
        sayUnavailable(log, failure, false);
        if (!waitForCamera(settings, log, camera)) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::deviceLost,
                             fmt::format("WebcamRecorder:\"{}\" did not become available; no webcam.mp4 was recorded", cameraName));
            return;
        }
        reportTrackEvent(log, TrackEventKind::back, "webcam", TrackEventCode::deviceBack,
                         fmt::format("WebcamRecorder:\"{}\" is available after {:.2f} s; webcam.mp4 starts with its first frame",
                                     cameraName, static_cast<double>(clock() - trackBegan) / 1e7));
    }

    WebcamWriterStep writerStep = WebcamWriterStep::createAttributes;
    if (failed(platform.createWriter(settings.projectDir / "webcam.mp4", *camera.delivered, writer, streamIndex, writerStep)) ||
        !writer) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::writeFailed, writerStepLine(writerStep));
        return;
    }

    log.info("WebcamRecorder:Recording...\n");
    bool firstSample = true;
    int64_t firstWallTicks = 0;
    int64_t previousReading = 0;
    int64_t sampleTime = 0;
    int64_t sampleDuration = 0;
    samplesWritten = 0;
    writeFailureSaid = false;
    bool loopFailed = false;
    // A camera that went away: where its last frame lies in the file, until the first one after it.
    bool cameraAway = false;
    bool awaitingReturn = false;
    int64_t lostAtReading = 0;
    while (webcamRunning.load()) {
        if (cameraAway) {
            camera = Camera{};
            if (!waitForCamera(settings, log, camera)) break;
            cameraAway = false;
            awaitingReturn = true;
        }
        std::unique_ptr<VideoSample> sample;
        const HResult read = camera.reader->readSample(readTimeoutMillis, sample);
        if (failed(read)) {
            // Said once per loss: a camera opened again that fails before its first frame
            // (still busy) is simply tried again.
            if (!awaitingReturn) {
                sayUnavailable(log, read, true);
                lostAtReading = clock() - pausedTicksSoFar();
            }
            awaitingReturn = true;
            cameraAway = true;
            continue;
        }
        if (read == hresult::formatChanged) {
            const HResult restored = camera.reader->restoreDeliveredType();
            reportTrackEvent(log, TrackEventKind::warning, "webcam", TrackEventCode::formatChanged,
                             succeeded(restored)
                                 ? std::string("WebcamRecorder:the camera changed its format mid-stream; its frames are converted "
                                               "back to the recorded one")
                                 : fmt::format("WebcamRecorder:the camera changed its format mid-stream and its frames cannot be "
                                               "converted back ({}); opening it again",
                                               platform.errorText(restored)));
            if (failed(restored)) {
                if (!awaitingReturn) lostAtReading = clock() - pausedTicksSoFar();
                awaitingReturn = true;
                cameraAway = true;
                continue;
            }
            continue;  // a frame that came with the change is in the new type
        }
        // Read and let go while paused, so the camera's queue stays fresh.
        if (!sample || recordingPaused()) continue;
        // Sample times leave the pauses out.
        const int64_t reading = clock() - pausedTicksSoFar();
        if (firstSample) {
            sampleTime = 0;
            firstSample = false;
            // The clock only times the samples; the wall clock is read once, for the start.
            firstWallTicks = wallClockTicks();
        } else {
            sampleDuration = reading - previousReading;
            sampleTime += sampleDuration;
        }
        if (awaitingReturn) {
            awaitingReturn = false;
            if (samplesWritten > 0) {
                const int64_t gapFrom = sampleTime - sampleDuration;
                addTrackGap("webcam", gapFrom, sampleTime);
                reportTrackEvent(log, TrackEventKind::back, "webcam", TrackEventCode::deviceBack,
                                 fmt::format("WebcamRecorder:\"{}\" is back after {:.2f} s; webcam.mp4 has no frames from {:.2f} s to {:.2f} s",
                                             cameraName, static_cast<double>(reading - lostAtReading) / 1e7,
                                             static_cast<double>(gapFrom) / 1e7, static_cast<double>(sampleTime) / 1e7));
            } else {
                clearTrackFailure("webcam");
            }
        }
        previousReading = reading;
        if (failed(sample->setSampleTime(sampleTime)) || failed(sample->setSampleDuration(sampleDuration))) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::writeFailed, "WebcamRecorder:Set video sample time failed.");
            loopFailed = true;
            break;
        }
        if (failed(writer->writeSample(streamIndex, std::move(sample)))) {
            const std::string line = videoWriteFailureLine(*writer, "webcam.mp4");
            writeFailureSaid = !line.empty();
            reportTrackEvent(log, TrackEventKind::failure, "webcam", writeFailureCode(writer->writeFailure()), "WebcamRecorder:" + (line.empty() ? std::string("Write video sample failed.") : line));
            loopFailed = true;
            break;
        }
        ++samplesWritten;
        // The first sample's arrival dates the track: it was captured at most one frame earlier.
        if (samplesWritten == 1) markTrackStart(recordingStatus.webcamTiming, firstWallTicks);
        markTrackEnd(recordingStatus.webcamTiming, sampleTime + sampleDuration);
        countWebcamSample();
    }
    if (awaitingReturn && !loopFailed) {
        const double endsAt = static_cast<double>(sampleTime) / 1e7;
        if (samplesWritten > 0) {
            addTrackGap("webcam", sampleTime, sampleTime + (clock() - pausedTicksSoFar() - previousReading));
        }
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::deviceLost,
                         fmt::format("WebcamRecorder:\"{}\" did not come back; webcam.mp4 ends at {:.2f} s", cameraName, endsAt));
    }

    if (!loopFailed) {
        log.info("WebcamRecorder:Finalising the capture.\n");
        // A camera that never delivered leaves no file; its loss line says why.
        if (failed(writer->finalize()) && writer->writeFailure().empty() && writer->finishFailure().empty() &&
            !(awaitingReturn && samplesWritten == 0)) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::writeFailed, "WebcamRecorder:Error finalising H.264 sink writer.");
        }
    } else if (samplesWritten > 0) {
        // Keep what was recorded before the error playable.
        if (succeeded(writer->finalize())) {
            log.info("WebcamRecorder:{} samples written before the error were kept", samplesWritten);
        }
    }
    const VideoFileLines lines = videoFileLines(*writer, "webcam.mp4", writeFailureSaid);
    if (!lines.error.empty()) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", writeFailureCode(writer->writeFailure()), "WebcamRecorder:" + lines.error);
    }
    if (!lines.warning.empty()) {
        reportTrackEvent(log, TrackEventKind::warning, "webcam", TrackEventCode::writeFailed, "WebcamRecorder:" + lines.warning);
    }
    // A writer dropped without finalising, having written nothing, leaves no file.
}

CameraList listCameras(CameraPlatform& platform) {
    CameraList list;
    // A thread whose apartment has another model can still list: only a successful call is paired.
    const bool initialized = succeeded(platform.initializeThread());
    if (succeeded(platform.startup())) {
        std::vector<std::unique_ptr<CameraDevice>> devices;
        CameraListStep step = CameraListStep::enumerate;
        if (succeeded(platform.listDevices(devices, step))) {
            list.ok = true;
            for (const auto& device : devices) {
                std::string name;
                device->friendlyName(name);
                list.names.push_back(name);
            }
        }
        platform.shutdown();
    }
    if (initialized) platform.uninitializeThread();
    return list;
}
