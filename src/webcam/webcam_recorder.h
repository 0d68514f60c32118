#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/camera.h"
#include "recording_settings.h"

namespace spdlog {
class logger;
}

// Thread function of the webcam track: records the camera at settings.webcamIndex into
// webcam.mp4 until webcamRunning falls.
void recordWebcam(RecordingSettings settings);

// Four info lines that describe one native media type.
void logNativeMediaType(CameraMediaType& type, uint32_t index, std::shared_ptr<spdlog::logger> logger);

// The webcam track written against the camera platform layer, so that any platform (or a test's
// scripted one) can run it. One instance serves one recording thread.
class WebcamRecorder {
public:
    // clock: a steady clock in 100-ns ticks for the sample times; only differences are used.
    WebcamRecorder(CameraPlatform& platform, std::function<int64_t()> clock);

    void run(const RecordingSettings& settings);

    // Longest wait for a frame before webcamRunning is looked at again, so that end() never
    // waits long on a camera that stalls or is gone.
    static constexpr uint32_t readTimeoutMillis = 200;

private:
    void record(const RecordingSettings& settings, spdlog::logger& log);
    enum class LoopEnd { stopped, failed };
    LoopEnd captureLoop(CameraReader& reader, SinkWriter& writer, uint32_t streamIndex, spdlog::logger& log);

    CameraPlatform& platform;
    std::function<int64_t()> clock;
    uint64_t samplesWritten = 0;
    bool writeFailureSaid = false;  // the file's write failure is in the log
};

// The cameras webcamIndex chooses from, in the same order, by name.
struct CameraList {
    bool ok = false;
    std::vector<std::string> names;
};
CameraList listCameras(CameraPlatform& platform);
