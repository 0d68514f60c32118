#include "audio/playback_recorder.h"

#include <optional>

#include <spdlog/spdlog.h>

#include "audio/track_capture.h"
#include "platform/default_output_watch.h"
#include "platform/system_audio_source.h"
#include "recording_status.h"
#include "run_flags.h"
#include "track_events.h"

void runPlaybackRecorder(RecordingSettings settings) {
    spdlog::logger& log = *settings.logger;

    // Declared before the device so that the device is stopped before the file is closed.
    WavTrackFile file;
    if (file.open(settings.projectDir / "output.wav") != MA_SUCCESS) {
        reportTrackEvent(log, TrackEventKind::failure, "systemAudio", TrackEventCode::writeFailed,
                         "playbackRecorder: Failed to initialize output file.");
        return;
    }
    recordingStatus.systemAudio.source.store(file.encoder());

    // The default output's source is looked up again on every opening: after a sound server
    // restart it is the same output under a new connection.
    const auto open = [&file](AudioDevice& device) {
        const std::optional<SystemAudioSource> source = findSystemAudioSource();
        if (!source) return false;
        ma_device_config config =
            trackCaptureConfig(source->deviceType, source->captureDeviceId ? &*source->captureDeviceId : nullptr, file);
        config.capture.shareMode = ma_share_mode_shared;
        // The recorder thread moves the track to a new default output itself (the watch below).
        // miniaudio's own rerouting on WASAPI would stop, reinitialise and restart this device on
        // a system thread while the recorder thread watches it, which it would take for a loss.
        config.wasapi.noAutoStreamRouting = MA_TRUE;
        return device.initOnBackend(source->backend, config) == MA_SUCCESS;
    };
    // Watched from before the device opens, so that a change of output meanwhile is followed.
    std::unique_ptr<DefaultOutputWatch> earlyWatch = watchDefaultOutput();
    const std::string defaultAtOpen = earlyWatch->currentDefault();
    AudioDevice device;
    if (!open(device)) {
        // The plain reason first: it is what the track's status shows.
        const std::string problem = soundServerProblem();
        if (!problem.empty()) {
            reportTrackEvent(log, TrackEventKind::failure, "systemAudio", TrackEventCode::noSoundServer,
                             "playbackRecorder: " + problem);
        }
        reportTrackEvent(log, TrackEventKind::failure, "systemAudio", TrackEventCode::openFailed,
                         "playbackRecorder: Failed to initialize loopback device.");
        return;
    }
    const std::string name = device.device()->capture.name;
    setTrackDevice("systemAudio", name);
    // The early watch first; a new one when the recorder needs another (its sound server restarted).
    const auto watch = [&earlyWatch] { return earlyWatch ? std::move(earlyWatch) : watchDefaultOutput(); };
    const CaptureTrack track{"playbackRecorder:", "systemAudio", "playbackRecorder: Failed to start device.", name, open,
                             watch, defaultAtOpen};
    recordUntilLowered(device, file, playbackRunning, log, track);
}
