#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/camera.h"
#include "recording_settings.h"
#include "webcam/webcam_format.h"

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
//
// A camera that is busy in another application, blocked by the privacy setting or unplugged says
// so in one line with the platform's error and is opened again about once a second; when it is
// back its frames go on in the same file after a gap, which tracks.json lists.
class WebcamRecorder {
public:
    // clock: a steady clock in 100-ns ticks for the sample times; only differences are used.
    WebcamRecorder(CameraPlatform& platform, std::function<int64_t()> clock,
                   std::chrono::milliseconds reopenPeriod = std::chrono::milliseconds(1000));

    void run(const RecordingSettings& settings);

    // Longest wait for a frame before webcamRunning is looked at again, so that end() never
    // waits long on a camera that stalls or is gone.
    static constexpr uint32_t readTimeoutMillis = 200;

private:
    // What an opened camera holds, released in reverse order.
    struct Camera {
        std::vector<std::unique_ptr<CameraDevice>> devices;
        std::unique_ptr<CameraSource> source;
        std::unique_ptr<CameraReader> reader;
        std::unique_ptr<CameraMediaType> chosen;
        std::unique_ptr<CameraMediaType> delivered;
    };
    enum class Open { ok, failed, unavailable };

    void record(const RecordingSettings& settings, spdlog::logger& log);
    // The first opening logs each failure's line (failed) except that of a camera that is busy,
    // blocked or gone (unavailable, `failure` says why); a later one (`again`) logs nothing.
    Open open(const RecordingSettings& settings, spdlog::logger& log, Camera& camera, bool again, HResult& failure);
    Open chooseType(const RecordingSettings& settings, spdlog::logger& log, Camera& camera, bool again);
    void sayUnavailable(spdlog::logger& log, HResult failure, bool whileReading);
    bool waitForCamera(const RecordingSettings& settings, spdlog::logger& log, Camera& camera);

    CameraPlatform& platform;
    std::function<int64_t()> clock;
    std::chrono::milliseconds reopenPeriod;
    std::string cameraName;
    std::optional<NativeTypeFacts> recordedType;  // the type chosen at the first opening
    bool typesListed = false;
    uint64_t samplesWritten = 0;
    bool writeFailureSaid = false;  // the file's write failure is in the log
};

// The cameras webcamIndex chooses from, in the same order, by name.
struct CameraList {
    bool ok = false;
    std::vector<std::string> names;
};
CameraList listCameras(CameraPlatform& platform);
