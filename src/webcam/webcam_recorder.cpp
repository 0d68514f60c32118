#include "webcam/webcam_recorder.h"

#include <chrono>

#include <spdlog/logger.h>

#include "recording_status.h"
#include "run_flags.h"
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

WebcamRecorder::WebcamRecorder(CameraPlatform& platformValue, std::function<int64_t()> clockValue)
    : platform(platformValue), clock(std::move(clockValue)) {}

void WebcamRecorder::run(const RecordingSettings& settings) {
    spdlog::logger& log = webcamLog(settings);
    std::string unavailable;
    if (!platform.librariesAvailable(unavailable)) {
        log.error("WebcamRecorder:{}; no webcam video is recorded", unavailable);
        return;
    }
    if (failed(platform.initializeThread())) {
        log.error("WebcamRecorder:COM initialisation failed.");
        return;
    }
    if (failed(platform.startup())) {
        log.error("WebcamRecorder:Media Foundation initialisation failed.");
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
        log.error(listStepLine(listStep));
        return;
    }
    if (settings.webcamIndex < 0 || static_cast<size_t>(settings.webcamIndex) >= devices.size()) {
        log.error("WebcamRecorder:No video device at index {} ({} found).", settings.webcamIndex, devices.size());
        return;
    }
    CameraDevice& device = *devices[static_cast<size_t>(settings.webcamIndex)];
    std::string friendlyName;
    if (failed(device.friendlyName(friendlyName))) {
        log.error("WebcamRecorder:Error retrieving video device friendly name.");
        return;
    }
    setTrackDevice("webcam", friendlyName);
    if (failed(device.activate(source)) || !source) {
        log.error("WebcamRecorder:Error activating video device.");
        return;
    }
    if (failed(platform.createReader(*source, reader)) || !reader) {
        log.error("WebcamRecorder:Error creating video source reader.");
        return;
    }
    if (failed(reader->nativeMediaType(0, chosen)) || !chosen) {
        log.error("WebcamRecorder:Failed to get native media type.");
        return;
    }
    for (uint32_t index = 0;; ++index) {
        std::unique_ptr<CameraMediaType> type;
        const HResult listed = reader->nativeMediaType(index, type);
        if (listed == hresult::noMoreTypes) break;
        if (failed(listed) || !type) {
            log.error("WebcamRecorder:Failed to get native media type at index {}.", index);
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
        log.error("WebcamRecorder:Failed to set media type on source reader.");
        return;
    }
    uint32_t width = 0, height = 0, rateNumerator = 0, rateDenominator = 0;
    if (failed(chosen->frameSize(width, height))) {
        log.error("WebcamRecorder:Failed to get frame size.");
        return;
    }
    if (failed(chosen->frameRate(rateNumerator, rateDenominator))) {
        log.error("WebcamRecorder:Failed to get frame rate.");
        return;
    }
    log.info("WebcamRecorder:Using native format: {}x{} @{} fps\n", width, height, rateNumerator);

    uint32_t streamIndex = 0;
    WebcamWriterStep writerStep = WebcamWriterStep::createAttributes;
    if (failed(platform.createWriter(settings.projectDir / "webcam.mp4", *chosen, writer, streamIndex, writerStep)) || !writer) {
        log.error(writerStepLine(writerStep));
        return;
    }

    log.info("WebcamRecorder:Recording...\n");
    if (captureLoop(*reader, *writer, streamIndex, log) == LoopEnd::stopped) {
        log.info("WebcamRecorder:Finalising the capture.\n");
        if (failed(writer->finalize()) && writer->writeFailure().empty() && writer->finishFailure().empty()) {
            log.error("WebcamRecorder:Error finalising H.264 sink writer.");
        }
    } else if (samplesWritten > 0) {
        // Keep what was recorded before the error playable.
        if (succeeded(writer->finalize())) {
            log.info("WebcamRecorder:{} samples written before the error were kept", samplesWritten);
        }
    }
    const VideoFileLines lines = videoFileLines(*writer, "webcam.mp4", writeFailureSaid);
    if (!lines.error.empty()) log.error("WebcamRecorder:{}", lines.error);
    if (!lines.warning.empty()) log.warn("WebcamRecorder:{}", lines.warning);
    // A writer dropped without finalising, having written nothing, leaves no file.
}

WebcamRecorder::LoopEnd WebcamRecorder::captureLoop(CameraReader& reader, SinkWriter& writer, uint32_t streamIndex,
                                                    spdlog::logger& log) {
    bool firstSample = true;
    int64_t previousReading = 0;
    int64_t firstWallTicks = 0;
    int64_t sampleTime = 0;
    int64_t sampleDuration = 0;
    samplesWritten = 0;
    writeFailureSaid = false;
    while (webcamRunning.load()) {
        std::unique_ptr<VideoSample> sample;
        if (failed(reader.readSample(readTimeoutMillis, sample))) {
            log.error("WebcamRecorder:Error reading video sample.");
            return LoopEnd::failed;
        }
        if (!sample) continue;
        const int64_t reading = clock();
        if (firstSample) {
            sampleTime = 0;
            firstSample = false;
            firstWallTicks = wallClockTicks();
        } else {
            sampleDuration = reading - previousReading;
            sampleTime += sampleDuration;
        }
        previousReading = reading;
        if (failed(sample->setSampleTime(sampleTime)) || failed(sample->setSampleDuration(sampleDuration))) {
            log.error("WebcamRecorder:Set video sample time failed.");
            return LoopEnd::failed;
        }
        if (failed(writer.writeSample(streamIndex, std::move(sample)))) {
            const std::string line = videoWriteFailureLine(writer, "webcam.mp4");
            writeFailureSaid = !line.empty();
            log.error("WebcamRecorder:{}", line.empty() ? "Write video sample failed." : line);
            return LoopEnd::failed;
        }
        ++samplesWritten;
        // The first sample's arrival dates the track: it was captured at most one frame earlier.
        if (samplesWritten == 1) markTrackStart(recordingStatus.webcamTiming, firstWallTicks);
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
