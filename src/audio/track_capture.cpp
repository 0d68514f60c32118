#include "audio/track_capture.h"

#include <chrono>

#include <spdlog/spdlog.h>

#include "audio/audio_data_callback.h"
#include "audio/run_flag_wait.h"
#include "platform/idle_output_clock.h"
#include "recording_status.h"

namespace {

constexpr std::chrono::milliseconds runFlagPoll{30};

}  // namespace

ma_device_config trackCaptureConfig(ma_device_type type, const ma_device_id* device, WavTrackFile& file) {
    ma_device_config config = ma_device_config_init(type);
    config.capture.pDeviceID = device;
    config.capture.format = trackSampleFormat;
    config.capture.channels = trackChannels;
    config.sampleRate = trackSampleRate;
    config.dataCallback = audioDataCallback;
    config.pUserData = file.encoder();
    return config;
}

void recordUntilLowered(AudioDevice& device, WavTrackFile& file, const std::atomic<bool>& running,
                        spdlog::logger& log, const char* startFailedLine, const char* logPrefix) {
    if (device.start() != MA_SUCCESS) {
        device.close();
        log.error(startFailedLine);
        return;
    }
    restartIdleOutputClock(*device.device());
    restartAudioStartEstimate(file.encoder());
    waitWhileRaised(running, runFlagPoll);
    device.close();
    file.close();
    if (!file.failure().empty()) {
        log.error("{} {} could not be written to the end ({}); it holds the audio up to the failure", logPrefix,
                  file.name(), file.failure());
    }
}
