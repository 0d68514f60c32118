#include "audio/mic_recorder.h"

#include <chrono>
#include <optional>

#include <spdlog/spdlog.h>

#include "audio/audio_data_callback.h"
#include "audio/audio_device.h"
#include "audio/run_flag_wait.h"
#include "audio/wav_track_file.h"
#include "miniaudio.h"
#include "run_flags.h"

namespace {

constexpr std::chrono::milliseconds runFlagPoll{30};

// Finds the identifier of capture device `micIndex` in the list that getMics reports (same
// backends, same order). Logs and returns nothing when there is none.
std::optional<ma_device_id> findCaptureDevice(int32_t micIndex, spdlog::logger& log) {
    ma_context context;
    if (ma_context_init(nullptr, 0, nullptr, &context) != MA_SUCCESS) {
        log.error("mic: ma_context_init failed");
        return std::nullopt;
    }
    ma_device_info* captureDevices = nullptr;
    ma_uint32 captureCount = 0;
    std::optional<ma_device_id> found;
    if (ma_context_get_devices(&context, nullptr, nullptr, &captureDevices, &captureCount) != MA_SUCCESS) {
        log.error("mic: ma_context_get_devices initialize fail");
    } else if (micIndex < 0 || static_cast<ma_uint32>(micIndex) >= captureCount) {
        log.error("mic: No capture device at micIndex {} ({} devices).", micIndex, captureCount);
    } else {
        found = captureDevices[micIndex].id;
    }
    ma_context_uninit(&context);
    return found;
}

}  // namespace

void runMicRecorder(RecordingSettings settings) {
    spdlog::logger& log = *settings.logger;

    std::optional<ma_device_id> deviceId = findCaptureDevice(settings.micIndex, log);
    if (!deviceId) return;

    // Declared before the device so that the device is stopped before the file is closed.
    WavTrackFile file;
    if (file.open(settings.projectDir / "mivox.wav") != MA_SUCCESS) {
        log.error("mic: Failed to initialize output file.");
        return;
    }

    ma_device_config config = ma_device_config_init(ma_device_type_capture);
    config.capture.pDeviceID = &*deviceId;
    config.capture.format = trackSampleFormat;
    config.capture.channels = trackChannels;
    config.sampleRate = trackSampleRate;
    config.dataCallback = audioDataCallback;
    config.pUserData = file.encoder();

    AudioDevice device;
    if (device.init(config) != MA_SUCCESS) {
        log.error("mic: Failed to initialize capture device.");
        return;
    }
    if (device.start() != MA_SUCCESS) {
        device.close();
        log.error("mic: Failed to start device.");
        return;
    }

    waitWhileRaised(micRunning, runFlagPoll);

    device.close();
    file.close();
}
