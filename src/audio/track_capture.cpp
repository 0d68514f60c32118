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
        : device(device), file(file), log(log), track(track), status(audioTrackOf(file.encoder())) {}

    void check() {
        switch (phase) {
        case Phase::recording:
            if (deviceLost(device, status)) {
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
        if (phase == Phase::recording) {
            // A device that delivers too few frames owes the last of them: silence up to the end.
            if (status != nullptr && status->runaway.load() == 2) writeSilence(file.encoder(), status->fillUntilNow());
            return;
        }
        // Still missing: silence up to the end, so the file lasts as long as the recording.
        const uint64_t fill = status != nullptr ? status->fillUntilNow() : 0;
        writeSilence(file.encoder(), fill);
        log.error("{} \"{}\" did not come back; {} has silence from {:.2f} s to its end at {:.2f} s", track.logPrefix,
                  track.deviceName, file.name(), lostAtSeconds, lostAtSeconds + fileSeconds(framesNow() - lostAtFrames));
    }

private:
    enum class Phase { recording, lost, reopened, ended };

    uint64_t framesNow() const { return status != nullptr ? status->frames.load() : 0; }
    bool delivered() const { return framesNow() != framesAtReopen; }

    void lose() {
        device.close();  // from here on only this thread writes the file
        lostAtFrames = framesNow();
        lostAtSeconds = fileSeconds(lostAtFrames);
        log.error("{} lost \"{}\" {:.2f} s into {}; reopening it about once a second", track.logPrefix,
                  track.deviceName, lostAtSeconds, file.name());
        phase = Phase::lost;
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

    void reopen() {
        nextAttempt = Clock::now() + reopenPeriod;
        if (!track.reopen(device)) return;
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
        const uint64_t gap = status->lastGapFrames.load();
        log.info("{} \"{}\" is back after {:.2f} s; {} has silence from {:.2f} s to {:.2f} s", track.logPrefix,
                 track.deviceName, fileSeconds(gap), file.name(), lostAtSeconds, lostAtSeconds + fileSeconds(gap));
        clearTrackFailure(track.track);
        phase = Phase::recording;
    }

    AudioDevice& device;
    WavTrackFile& file;
    spdlog::logger& log;
    const CaptureTrack& track;
    AudioTrackStatus* status;
    Phase phase = Phase::recording;
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
        log.error(track.startFailedLine);
        return;
    }
    restartIdleOutputClock(*device.device());
    restartAudioStartEstimate(file.encoder());
    DeviceWatch watch(device, file, log, track);
    while (sleepWhileRaised(running, runFlagPoll)) watch.check();
    device.close();
    watch.finish();
    file.close();
    if (!file.failure().empty()) {
        log.error("{} {} could not be written to the end ({}); it holds the audio up to the failure", track.logPrefix,
                  file.name(), file.failure());
    }
}
