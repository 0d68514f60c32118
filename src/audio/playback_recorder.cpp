#include "audio/playback_recorder.h"

#include <chrono>
#include <optional>

#include <spdlog/spdlog.h>

#include "audio/audio_data_callback.h"
#include "audio/audio_device.h"
#include "audio/run_flag_wait.h"
#include "audio/wav_track_file.h"
#include "platform/system_audio_source.h"
#include "run_flags.h"

namespace {

constexpr std::chrono::milliseconds runFlagPoll{30};

}  // namespace

void runPlaybackRecorder(RecordingSettings settings) {
    spdlog::logger& log = *settings.logger;

    // Declared before the device so that the device is stopped before the file is closed.
    WavTrackFile file;
    if (file.open(settings.projectDir / "output.wav") != MA_SUCCESS) {
        log.error("playbackRecorder: Failed to initialize output file.");
        return;
    }

    AudioDevice device;
    const std::optional<SystemAudioSource> source = findSystemAudioSource();
    if (source) {
        ma_device_config config = ma_device_config_init(source->deviceType);
        config.capture.pDeviceID = source->captureDeviceId ? &*source->captureDeviceId : nullptr;
        config.capture.format = trackSampleFormat;
        config.capture.channels = trackChannels;
        config.sampleRate = trackSampleRate;
        config.dataCallback = audioDataCallback;
        config.pUserData = file.encoder();
        config.capture.shareMode = ma_share_mode_shared;
        device.initOnBackend(source->backend, config);
    }
    if (!device.isOpen()) {
        log.error("playbackRecorder: Failed to initialize loopback device.");
        return;
    }
    if (device.start() != MA_SUCCESS) {
        device.close();
        log.error("playbackRecorder: Failed to start device.");
        return;
    }

    waitWhileRaised(playbackRunning, runFlagPoll);

    device.close();
    file.close();
}
