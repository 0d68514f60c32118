#include "audio/track_capture.h"

#include <chrono>

#include <spdlog/spdlog.h>

#include "audio/audio_data_callback.h"
#include "audio/run_flag_wait.h"
#include "platform/audio_stream_state.h"
#include "platform/idle_output_clock.h"
#include "recording_status.h"
#include "track_events.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds runFlagPoll{30};
// A device that delivered and then sends nothing for this long is lost, whatever its backend
// says (devices deliver every 10-25 ms).
constexpr std::chrono::milliseconds silentDeviceLimit{2000};
constexpr std::chrono::milliseconds reopenPeriod{1000};
// A reopened device that delivers nothing within this is tried again (an idle virtual output
// may take up to two seconds before its clock is restarted).
constexpr std::chrono::milliseconds firstFrameLimit{3000};

double fileSeconds(uint64_t frames) { return static_cast<double>(frames) / trackSampleRate; }

int64_t steadyNowTicks() {
    return std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
               Clock::now().time_since_epoch())
        .count();
}

// Whether the device stopped delivering: miniaudio stopped it (WASAPI's invalidated endpoint), its
// sound server dropped its stream, or it went quiet after delivering.
bool deviceLost(AudioDevice& device, const AudioTrackStatus* status) {
    if (ma_device_get_state(device.device()) != ma_device_state_started) return true;
    if (audioStreamBroken(*device.device())) return true;
    if (status == nullptr) return false;
    const int64_t last = status->lastCallbackTicks.load();
    return last != 0 && steadyNowTicks() - last > silentDeviceLimit.count() * 10000;
}

// Follows one track's device through losses and returns.
class DeviceWatch {
public:
    DeviceWatch(AudioDevice& device, WavTrackFile& file, spdlog::logger& log, const CaptureTrack& track)
        : device(device), file(file), log(log), track(track), status(audioTrackOf(file.encoder())) {
        startWatchingDefault();
        if (defaultWatch && !track.defaultAtOpen.empty()) {
            // Every change the watch saw since it began, against the output the device opened on.
            seenChanges = 0;
            openedOn = track.defaultAtOpen;
        }
    }

    void check() {
        switch (phase) {
        case Phase::recording:
            // A new default first: the old output may be going away with it (a Bluetooth
            // speaker switched off), and that is a move, not a loss.
            if (defaultOutputMoved()) {
                follow();
            } else if (deviceLost(device, status)) {
                lose();
            } else {
                watchPace();
            }
            break;
        case Phase::ended:
            break;
        case Phase::lost:
            if (Clock::now() >= nextAttempt) reopen();
            break;
        case Phase::reopened:
            if (delivered()) {
                comeBack();
            } else if (deviceLost(device, nullptr) || Clock::now() - reopenedAt > firstFrameLimit) {
                device.close();
                if (following) {
                    following = false;
                    declareLost();  // the new output was never heard: said as a loss
                }
                phase = Phase::lost;
            }
            break;
        }
    }

    // After the device has been closed for good.
    void finish() {
        if (phase == Phase::ended) {
            writeSilence(file.encoder(), status->fillUntilNow());
            return;
        }
        if (phase == Phase::reopened && delivered()) comeBack();
        if (phase == Phase::reopened && following) {
            // Moved just before the end: silence up to it, as for any switch.
            writeSilence(file.encoder(), status != nullptr ? status->fillUntilNow() : 0);
            return;
        }
        if (phase == Phase::recording) {
            // A device that delivers too few frames owes the last of them: silence up to the end.
            if (status != nullptr && status->runaway.load() == 2) writeSilence(file.encoder(), status->fillUntilNow());
            return;
        }
        // Still missing: silence up to the end, so the file lasts as long as the recording.
        const uint64_t fill = status != nullptr ? status->fillUntilNow() : 0;
        writeSilence(file.encoder(), fill);
        reportTrackEvent(log, TrackEventKind::failure, track.track, TrackEventCode::deviceLost,
                         fmt::format("{} \"{}\" did not come back; {} has silence from {:.2f} s to its end at {:.2f} s",
                                     track.logPrefix, deviceName, file.name(), lostAtSeconds,
                                     lostAtSeconds + fileSeconds(framesNow() - lostAtFrames)));
    }

private:
    enum class Phase { recording, lost, reopened, ended };

    uint64_t framesNow() const { return status != nullptr ? status->frames.load() : 0; }
    bool delivered() const { return framesNow() != framesAtReopen; }

    void lose() {
        device.close();  // from here on only this thread writes the file
        declareLost();
        phase = Phase::lost;
    }

    void declareLost() {
        lostAtFrames = framesNow();
        lostAtSeconds = fileSeconds(lostAtFrames);
        reportTrackEvent(log, TrackEventKind::lost, track.track, TrackEventCode::deviceLost,
                         fmt::format("{} lost \"{}\" {:.2f} s into {}; reopening it about once a second", track.logPrefix,
                                     deviceName, lostAtSeconds, file.name()));
        nextAttempt = Clock::now() + reopenPeriod;
    }

    // A device that delivers far more than its rate (ALSA's null device returns zeros as fast as
    // they are read) is stopped: its frames beyond the clock were left out from the start, and the
    // file gets silence up to the end. One that delivers far fewer gets silence where frames are
    // missing and goes on.
    void watchPace() {
        if (status == nullptr) return;
        const int pace = status->runaway.load();
        if (pace == 1) {
            device.close();
            const double delivered = status->deliveredRate.load();
            const double at = fileSeconds(framesNow());
            reportTrackEvent(log, TrackEventKind::failure, track.track, TrackEventCode::runawayDevice,
                             fmt::format("{} \"{}\" delivers {:.0f} frames a second for {}; stopped it {:.2f} s into {}, "
                                         "which has silence from there to its end",
                                         track.logPrefix, track.deviceName, delivered, trackSampleRate, at, file.name()));
            phase = Phase::ended;
        } else if (pace == 2 && !slowReported) {
            slowReported = true;
            reportTrackEvent(log, TrackEventKind::outage, track.track, TrackEventCode::runawayDevice,
                             fmt::format("{} \"{}\" delivers {:.0f} frames a second for {}; {} has silence where frames "
                                         "are missing from {:.2f} s",
                                         track.logPrefix, track.deviceName, status->deliveredRate.load(), trackSampleRate,
                                         file.name(), fileSeconds(framesNow())));
        } else if (pace == 0 && slowReported) {
            slowReported = false;
            reportTrackEvent(log, TrackEventKind::back, track.track, TrackEventCode::runawayDevice,
                             fmt::format("{} \"{}\" delivers at its rate again {:.2f} s into {}", track.logPrefix,
                                         track.deviceName, fileSeconds(framesNow()), file.name()));
        }
    }

    void startWatchingDefault() {
        if (!track.watchDefaultOutput) return;
        if (!defaultWatch || !defaultWatch->alive()) defaultWatch = track.watchDefaultOutput();
        seenChanges = defaultWatch->changes();
        openedOn = defaultWatch->currentDefault();
    }

    bool defaultOutputMoved() {
        if (!defaultWatch) return false;
        const uint64_t changes = defaultWatch->changes();
        if (changes == seenChanges) return false;
        seenChanges = changes;
        const std::string now = defaultWatch->currentDefault();
        // No default at all leaves the device as it is: it is either still there or lost.
        return !now.empty() && now != openedOn;
    }

    // Moves to the new default output: its device is opened while the old one still records, so
    // that only the handover is missing (the callback fills it with silence when the first frames
    // arrive). When it cannot be opened the old output is kept: it may still be there.
    void follow() {
        const std::string movedTo = defaultWatch->currentDefault();
        AudioDevice next;
        if (!track.reopen(next)) return;
        openedOn = movedTo;
        device.close();
        device.swap(next);
        framesAtReopen = framesNow();
        lostAtFrames = framesAtReopen;
        lostAtSeconds = fileSeconds(lostAtFrames);
        if (status != nullptr) status->gapPending.store(framesAtReopen != 0);
        if (device.start() != MA_SUCCESS) {
            device.close();
            declareLost();
            phase = Phase::lost;
            return;
        }
        restartIdleOutputClock(*device.device());
        deviceName = device.device()->capture.name;
        following = true;
        reopenedAt = Clock::now();
        phase = Phase::reopened;
    }

    void reopen() {
        nextAttempt = Clock::now() + reopenPeriod;
        if (track.watchDefaultOutput) startWatchingDefault();  // the default may have moved meanwhile
        if (!track.reopen(device)) return;
        if (track.watchDefaultOutput) deviceName = device.device()->capture.name;
        framesAtReopen = framesNow();
        if (status != nullptr) status->gapPending.store(framesAtReopen != 0);
        if (device.start() != MA_SUCCESS) {
            device.close();
            return;
        }
        restartIdleOutputClock(*device.device());
        reopenedAt = Clock::now();
        phase = Phase::reopened;
    }

    void comeBack() {
        const uint64_t gap = status != nullptr ? status->lastGapFrames.load() : 0;
        phase = Phase::recording;
        if (following) {
            following = false;
            reportTrackEvent(log, TrackEventKind::warning, track.track, TrackEventCode::deviceChanged,
                             fmt::format("{} the default output changed; recording \"{}\" from {:.2f} s of {} "
                                         "({:.3f} s of silence for the switch)",
                                         track.logPrefix, deviceName, lostAtSeconds, file.name(), fileSeconds(gap)));
            return;
        }
        reportTrackEvent(log, TrackEventKind::back, track.track, TrackEventCode::deviceBack,
                         fmt::format("{} \"{}\" is back after {:.2f} s; {} has silence from {:.2f} s to {:.2f} s",
                                     track.logPrefix, deviceName, fileSeconds(gap), file.name(), lostAtSeconds,
                                     lostAtSeconds + fileSeconds(gap)));
    }

    AudioDevice& device;
    WavTrackFile& file;
    spdlog::logger& log;
    const CaptureTrack& track;
    AudioTrackStatus* status;
    Phase phase = Phase::recording;
    std::string deviceName = track.deviceName;  // the device recorded now: a new default's after a move
    std::unique_ptr<DefaultOutputWatch> defaultWatch;
    uint64_t seenChanges = 0;
    std::string openedOn;  // the default output when the device was opened
    bool following = false;  // reopened on a new default output, waiting for its first frames
    Clock::time_point nextAttempt;
    Clock::time_point reopenedAt;
    uint64_t framesAtReopen = 0;
    uint64_t lostAtFrames = 0;
    double lostAtSeconds = 0;
    bool slowReported = false;
};

}  // namespace

ma_device_config trackCaptureConfig(ma_device_type type, const ma_device_id* device, WavTrackFile& file) {
    ma_device_config config = ma_device_config_init(type);
    config.capture.pDeviceID = device;
    config.capture.format = trackSampleFormat;
    config.capture.channels = trackChannels;
    config.sampleRate = trackSampleRate;
    config.dataCallback = audioDataCallback;
    config.pUserData = file.encoder();
    // Room for about a second of capture (40 periods of 25 ms on PulseAudio, where miniaudio's
    // default of 3 lets the server drop what a device thread starved for 75 ms has not read).
    // The frames still come a period at a time: only the room grows, not the latency.
    config.periods = 40;
    return config;
}

void recordUntilLowered(AudioDevice& device, WavTrackFile& file, const std::atomic<bool>& running, spdlog::logger& log,
                        const CaptureTrack& track) {
    if (device.start() != MA_SUCCESS) {
        device.close();
        reportTrackEvent(log, TrackEventKind::failure, track.track, TrackEventCode::openFailed, track.startFailedLine);
        return;
    }
    restartIdleOutputClock(*device.device());
    restartAudioStartEstimate(file.encoder());
    DeviceWatch watch(device, file, log, track);
    while (sleepWhileRaised(running, runFlagPoll)) watch.check();
    device.close();
    watch.finish();
    file.close();
    if (file.pastSizeLimit()) {
        reportTrackEvent(log, TrackEventKind::warning, track.track, TrackEventCode::sizeLimit,
                         fmt::format("{} {} holds more than the 4 GB a WAV header can count; its sizes state the 4 GB maximum, "
                                     "which FFmpeg and miniaudio read as \"to the end of the file\", but other players may stop at 4 GB",
                                     track.logPrefix, file.name()));
    }
    if (!file.failure().empty()) {
        reportTrackEvent(log, TrackEventKind::failure, track.track, writeFailureCode(file.failure()),
                         fmt::format("{} {} could not be written to the end ({}); it holds the audio up to the failure",
                                     track.logPrefix, file.name(), file.failure()));
    }
}
