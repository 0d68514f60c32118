#include "audio/playback_recorder.h"

#include <optional>

#include <spdlog/spdlog.h>

#include "audio/track_capture.h"
#include "platform/system_audio_source.h"
#include "recording_status.h"
#include "run_flags.h"

void runPlaybackRecorder(RecordingSettings settings) {
    spdlog::logger& log = *settings.logger;

    // Declared before the device so that the device is stopped before the file is closed.
    WavTrackFile file;
    if (file.open(settings.projectDir / "output.wav") != MA_SUCCESS) {
        log.error("playbackRecorder: Failed to initialize output file.");
        return;
    }
    recordingStatus.systemAudio.source.store(file.encoder());

    AudioDevice device;
    const std::optional<SystemAudioSource> source = findSystemAudioSource();
    if (source) {
        ma_device_config config = trackCaptureConfig(
            source->deviceType, source->captureDeviceId ? &*source->captureDeviceId : nullptr, file);
        config.capture.shareMode = ma_share_mode_shared;
        device.initOnBackend(source->backend, config);
    }
    if (device.isOpen()) setTrackDevice("systemAudio", device.device()->capture.name);
    if (!device.isOpen()) {
        log.error("playbackRecorder: Failed to initialize loopback device.");
        return;
    }
    recordUntilLowered(device, file, playbackRunning, log, "playbackRecorder: Failed to start device.", "playbackRecorder:");
}
