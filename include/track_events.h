#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace spdlog {
class logger;
}

// What happened to a track, said once where it happens: the log line is for people, the kind and
// the code are for programs (the live status, tracks.json and the host's event listeners).

enum class TrackEventKind {
    failure,  // the track stopped for good (or never started)
    lost,     // its device went away; the recorder is trying to get it back
    back,     // a lost device or an outage ended; the track goes on in the same file
    outage,   // the source delivers nothing for a while (a lock screen, a mode change)
    warning,  // the track goes on, but something about it is worth knowing
};

enum class TrackEventCode {
    openFailed,         // the device or source could not be opened or started
    deviceLost,         // a device that was recording went away
    deviceBack,         // it came back
    writeFailed,        // the track's file could not be written
    diskFull,           // ... because the disk is full
    unsupportedFormat,  // the device delivers nothing the recorder can encode
    deviceBusy,         // another application holds the device
    accessDenied,       // the system or the user refused access (privacy settings, a secure desktop)
    noSoundServer,      // no sound server could be reached
    noDisplay,          // no display could be reached
    captureOutage,      // the screen could not be captured for a while
    deviceChanged,      // the track moved to another device (a new default output)
    clockDrift,         // the device's clock runs off the recording's
    runawayDevice,      // the device delivers far faster or slower than its rate
    partialCapture,     // only part of the screen can be seen (a Wayland session's X server)
    queueFull,          // records were lost because a queue was full
    other,
    captureFailed,      // the screen or camera stopped delivering images for good
    formatChanged,      // the device changed its format mid-stream
    sizeLimit,          // the file outgrew what its format can count (a WAV past 4 GB)
};

// The code's name as programs see it ("deviceLost", ...).
const char* trackEventCodeName(TrackEventCode code);
const char* trackEventKindName(TrackEventKind kind);

// One event as the host sees it.
struct TrackEvent {
    TrackEventKind kind;
    std::string track;
    TrackEventCode code;
    std::string message;
    int64_t wallTicks;  // when it was reported: wall clock, 100 ns since 1970
};

// Where a recording's events go, besides its log and live status (the host's listeners). Called
// on the reporting recorder's thread.
using TrackEventListener = std::function<void(const TrackEvent&)>;

// The level of the log line, where it differs from the kind's usual one.
enum class TrackEventLine {
    asKind,
    info,   // the screen loop's run-time failures are information lines
    error,  // a warning whose line has always been an error
};

// Writes `message` to the recording's log (failures, losses and outages as errors, warnings as
// warnings, a return as information), records it in the live status (a failure, loss or outage
// holds the track's place in the failures until it is back) and publishes the event to the
// listener the recording's logger carries. `track` is "screen", "webcam", "microphone",
// "systemAudio", "keepAlive" or "input".
void reportTrackEvent(spdlog::logger& log, TrackEventKind kind, const char* track, TrackEventCode code,
                      const std::string& message);
void reportTrackEvent(spdlog::logger& log, TrackEventKind kind, const char* track, TrackEventCode code,
                      const std::string& message, TrackEventLine line);

// writeFailed, or diskFull when `systemReason` (the system's words for why a write failed, as
// the writers keep them) says the disk is full.
TrackEventCode writeFailureCode(const std::string& systemReason);

// Makes `log` carry `listener`: every event reported through it reaches the listener. Done once,
// before any thread logs through it.
void attachTrackEventListener(spdlog::logger& log, TrackEventListener listener);
