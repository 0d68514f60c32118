#include "audio/mic_recorder.h"

#include <spdlog/spdlog.h>

#include "audio/audio_backend.h"
#include "audio/capture_device_list.h"
#include "audio/track_capture.h"
#include "recording_status.h"
#include "run_flags.h"
#include "track_events.h"

void runMicRecorder(RecordingSettings settings) {
    spdlog::logger& log = *settings.logger;

    // The same list getMics reports, so micIndex names the same device.
    const CaptureDeviceList devices = listCaptureDevices();
    switch (devices.status) {
    case CaptureDeviceList::Status::contextFailed:
        log.error("mic: ma_context_init failed");
        return;
    case CaptureDeviceList::Status::enumerationFailed:
        log.error("mic: ma_context_get_devices initialize fail");
        return;
    case CaptureDeviceList::Status::ok:
        break;
    }
    if (settings.micIndex < 0 || static_cast<size_t>(settings.micIndex) >= devices.ids.size()) {
        log.error("mic: No capture device at micIndex {} ({} devices).", settings.micIndex, devices.ids.size());
        return;
    }
    const ma_device_id deviceId = devices.ids[static_cast<size_t>(settings.micIndex)];
    setTrackDevice("microphone", devices.names[static_cast<size_t>(settings.micIndex)]);
    if (!isSoundServerBackend(devices.backend)) {
        // The list came from the raw device layer: say so once, and whether the device is real.
        const bool placeholder = devices.placeholders[static_cast<size_t>(settings.micIndex)];
        reportTrackEvent(log, TrackEventKind::warning, "microphone", TrackEventCode::noSoundServer,
                         fmt::format("mic: {}; recording straight from the device \"{}\"{}", noSoundServerText,
                                     devices.names[static_cast<size_t>(settings.micIndex)],
                                     placeholder ? ", which names no sound card and records no sound" : ""));
    }

    // Declared before the device so that the device is stopped before the file is closed.
    WavTrackFile file;
    if (file.open(settings.projectDir / "mivox.wav") != MA_SUCCESS) {
        log.error("mic: Failed to initialize output file.");
        return;
    }
    recordingStatus.microphone.source.store(file.encoder());

    AudioDevice device;
    const ma_device_config config = trackCaptureConfig(ma_device_type_capture, &deviceId, file);
    if (device.init(config) != MA_SUCCESS) {
        log.error("mic: Failed to initialize capture device.");
        return;
    }
    // Reopened by its identifier on the backend it was found on: with the sound server gone, the
    // default backends would fall through to another one and never see it come back.
    const ma_backend backend = device.device()->pContext->backend;
    const CaptureTrack track{"mic:", "microphone", "mic: Failed to start device.",
                             devices.names[static_cast<size_t>(settings.micIndex)],
                             [&](AudioDevice& again) { return again.initOnBackend(backend, config) == MA_SUCCESS; }};
    recordUntilLowered(device, file, micRunning, log, track);
}
