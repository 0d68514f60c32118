#include "webcam/webcam_recorder.h"

#include <spdlog/logger.h>

#include "recording_status.h"
#include "run_flags.h"
#include "wall_clock.h"
#include "track_events.h"

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

}  // namespace

void recordWebcam(RecordingSettings settings) {
    const std::unique_ptr<CameraPlatform> platform = createCameraPlatform();
    WebcamRecorder recorder(*platform, wallClockTicks);
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

WebcamRecorder::WebcamRecorder(CameraPlatform& platformValue, std::function<int64_t()> clockValue)
    : platform(platformValue), clock(std::move(clockValue)) {}

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
        record(settings, log);  // releases every object it obtained before returning
        platform.shutdown();
    }
    platform.uninitializeThread();
}

void WebcamRecorder::record(const RecordingSettings& settings, spdlog::logger& log) {
    // Declared in the order of acquisition, so they are released in reverse.
    std::vector<std::unique_ptr<CameraDevice>> devices;
    std::unique_ptr<CameraSource> source;
    std::unique_ptr<CameraReader> reader;
    std::unique_ptr<CameraMediaType> chosen;
    std::unique_ptr<SinkWriter> writer;

    CameraListStep listStep = CameraListStep::enumerate;
    if (failed(platform.listDevices(devices, listStep))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, listStepLine(listStep));
        return;
    }
    if (settings.webcamIndex < 0 || static_cast<size_t>(settings.webcamIndex) >= devices.size()) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed,
                         fmt::format("WebcamRecorder:No video device at index {} ({} found).", settings.webcamIndex, devices.size()));
        return;
    }
    CameraDevice& device = *devices[static_cast<size_t>(settings.webcamIndex)];
    std::string friendlyName;
    if (failed(device.friendlyName(friendlyName))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:Error retrieving video device friendly name.");
        return;
    }
    setTrackDevice("webcam", friendlyName);
    if (failed(device.activate(source)) || !source) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:Error activating video device.");
        return;
    }
    if (failed(platform.createReader(*source, reader)) || !reader) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::openFailed, "WebcamRecorder:Error creating video source reader.");
        return;
    }
    if (failed(reader->nativeMediaType(0, chosen)) || !chosen) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get native media type.");
        return;
    }
    for (uint32_t index = 0;; ++index) {
        std::unique_ptr<CameraMediaType> type;
        const HResult listed = reader->nativeMediaType(index, type);
        if (listed == hresult::noMoreTypes) break;
        if (failed(listed) || !type) {
            // The list is only logged; the chosen type is in hand and the track goes on.
            reportTrackEvent(log, TrackEventKind::warning, "webcam", TrackEventCode::unsupportedFormat,
                             fmt::format("WebcamRecorder:Failed to get native media type at index {}.", index), TrackEventLine::error);
            break;
        }
        logNativeMediaType(*type, index, settings.logger);
    }
    MediaGuid subtype;
    if (succeeded(chosen->subtype(subtype))) {
        if (subtype == mediaSubtype::rgb24) {
            log.info("WebcamRecorder:Using RGB24 format.");
        } else if (subtype == mediaSubtype::yuy2) {
            log.info("WebcamRecorder:Using YUY2 format.");
        } else if (subtype == mediaSubtype::nv12) {
            log.info("WebcamRecorder:Using NV12 format.");
        }
    }
    if (failed(reader->setCurrentMediaType(*chosen))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to set media type on source reader.");
        return;
    }
    uint32_t width = 0, height = 0, rateNumerator = 0, rateDenominator = 0;
    if (failed(chosen->frameSize(width, height))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get frame size.");
        return;
    }
    if (failed(chosen->frameRate(rateNumerator, rateDenominator))) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::unsupportedFormat, "WebcamRecorder:Failed to get frame rate.");
        return;
    }
    log.info("WebcamRecorder:Using native format: {}x{} @{} fps\n", width, height, rateNumerator);

    uint32_t streamIndex = 0;
    WebcamWriterStep writerStep = WebcamWriterStep::createAttributes;
    if (failed(platform.createWriter(settings.projectDir / "webcam.mp4", *chosen, writer, streamIndex, writerStep)) || !writer) {
        reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::writeFailed, writerStepLine(writerStep));
        return;
    }

    log.info("WebcamRecorder:Recording...\n");
    if (captureLoop(*reader, *writer, streamIndex, log) == LoopEnd::stopped) {
        log.info("WebcamRecorder:Finalising the capture.\n");
        if (failed(writer->finalize()) && writer->writeFailure().empty() && writer->finishFailure().empty()) {
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

WebcamRecorder::LoopEnd WebcamRecorder::captureLoop(CameraReader& reader, SinkWriter& writer, uint32_t streamIndex,
                                                    spdlog::logger& log) {
    bool firstSample = true;
    int64_t previousReading = 0;
    int64_t sampleTime = 0;
    int64_t sampleDuration = 0;
    samplesWritten = 0;
    writeFailureSaid = false;
    while (webcamRunning.load()) {
        std::unique_ptr<VideoSample> sample;
        if (failed(reader.readSample(readTimeoutMillis, sample))) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::captureFailed, "WebcamRecorder:Error reading video sample.");
            return LoopEnd::failed;
        }
        // Read and let go while paused, so the camera's queue stays fresh.
        if (!sample || recordingPaused()) continue;
        const int64_t wallReading = clock();
        // Sample times leave the pauses out.
        const int64_t reading = wallReading - pausedTicksSoFar();
        if (firstSample) {
            sampleTime = 0;
            firstSample = false;
        } else {
            sampleDuration = reading - previousReading;
            sampleTime += sampleDuration;
        }
        previousReading = reading;
        if (failed(sample->setSampleTime(sampleTime)) || failed(sample->setSampleDuration(sampleDuration))) {
            reportTrackEvent(log, TrackEventKind::failure, "webcam", TrackEventCode::writeFailed, "WebcamRecorder:Set video sample time failed.");
            return LoopEnd::failed;
        }
        if (failed(writer.writeSample(streamIndex, std::move(sample)))) {
            const std::string line = videoWriteFailureLine(writer, "webcam.mp4");
            writeFailureSaid = !line.empty();
            reportTrackEvent(log, TrackEventKind::failure, "webcam", writeFailureCode(writer.writeFailure()),
                             "WebcamRecorder:" + (line.empty() ? std::string("Write video sample failed.") : line));
            return LoopEnd::failed;
        }
        ++samplesWritten;
        // The first sample's arrival dates the track: it was captured at most one frame earlier.
        if (samplesWritten == 1) markTrackStart(recordingStatus.webcamTiming, wallReading);
        markTrackEnd(recordingStatus.webcamTiming, sampleTime + sampleDuration);
        countWebcamSample();
    }
    return LoopEnd::stopped;
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
