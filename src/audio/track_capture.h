#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <spdlog/fwd.h>

#include "audio/audio_device.h"
#include "audio/wav_track_file.h"
#include "miniaudio.h"
#include "platform/default_output_watch.h"

// A capture device configuration that delivers the track format straight into `file`.
ma_device_config trackCaptureConfig(ma_device_type type, const ma_device_id* device, WavTrackFile& file);

// What recording a track needs beyond its device and file: how its lines begin, and how to open
// the same device again when it is lost.
struct CaptureTrack {
    const char* logPrefix;        // "mic:", "playbackRecorder:"
    const char* track;            // its name in the live status: "microphone", "systemAudio"
    const char* startFailedLine;  // logged when the device does not start
    std::string deviceName;       // for the lines about a lost device
    // Opens (does not start) the track's device into `device` once more; false when it is not there.
    std::function<bool(AudioDevice&)> reopen;
    // For a track that records whatever the default output plays: a watch on that output. When
    // it changes, the device is opened again on the new one (by `reopen`). Empty for a track
    // bound to one device.
    std::function<std::unique_ptr<DefaultOutputWatch>()> watchDefaultOutput;
    // The default output as a watch made before the device was opened saw it: a change while the
    // device was opening is then followed at once. Empty: the default when recording starts.
    std::string defaultAtOpen;
};

// Starts the opened `device`, records into `file` until `running` falls, then stops the device
// and completes the file. When the device does not start, logs `startFailedLine` and returns; when
// the file could not be written to the end, logs one error line starting with `logPrefix`.
//
// A device that is lost while recording (the sound server died, the device went away) is said in
// one error line at once; it is reopened about once a second, and when it is back the gap is
// silence in the same file, so the track stays on the clock. A device still missing at the end
// leaves silence up to the end.
//
// A track with `watchDefaultOutput` moves to the new default output when the user picks another
// one: the old device is closed, the new one opened and started at once, the moment in between
// is silence in the same file, and one warning line names the new device. No loss is declared
// unless the new output cannot be recorded.
void recordUntilLowered(AudioDevice& device, WavTrackFile& file, const std::atomic<bool>& running, spdlog::logger& log,
                        const CaptureTrack& track);
