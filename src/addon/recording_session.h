#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>

#include "recording_settings.h"
#include "track_events.h"

// The recorders' thread functions and the input hook's stop and join; replaceable in tests.
struct RecorderEntryPoints {
    using Entry = void (*)(RecordingSettings);
    Entry silent;
    Entry playback;
    Entry screen;
    Entry mic;
    Entry input;
    Entry webcam;
    void (*requestInputStop)();
    void (*joinInput)(std::thread&);
    // Creates a thread; std::system_error when the system refuses one.
    std::function<std::thread(Entry, RecordingSettings)> launch;
};

RecorderEntryPoints defaultRecorderEntryPoints();

// A start or end that cannot go ahead; the message is for the JavaScript caller.
class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One Recorder's recording: its settings, the recorder threads it launches and joins, and the
// process-wide claim that only one recording runs at a time.
class RecordingSession {
public:
    explicit RecordingSession(RecorderEntryPoints entries = defaultRecorderEntryPoints());
    RecordingSession(const RecordingSession&) = delete;
    RecordingSession& operator=(const RecordingSession&) = delete;

    RecordingSettings settings;
    // Hears every failure, loss, return, outage and warning the recorders report, on their threads.
    TrackEventListener onTrackEvent;

    bool isRecording() const { return recording; }

    // True while any session of the process records.
    static bool anyRecording();

    // Opens recorder.log, raises the run flags and launches the recorder threads. Throws
    // RecordingError, with nothing left running and the flags as they were, when another
    // recording runs, the log cannot be opened or a thread cannot be created.
    void begin();

    // Stops every recorder, waits for their files, writes meta.json, prints its quoted path to
    // `out` (only when it was written) and makes the session ready for the next recording. Does nothing when idle; never
    // throws, so a collected Recorder can call it from its destructor.
    void finish(std::FILE* out = stdout) noexcept;

    // Holds every track of the running recording until resume(); false when none runs or it is
    // already paused (resume: not paused).
    bool pause();
    bool resume();

private:
    // Joins the recorders in their fixed order, up to and including the input thread.
    void joinUpToInput();
    // Writes meta.json and prints its quoted path to `out`; logs an error and prints nothing when
    // it cannot be written.
    bool writeMeta(std::FILE* out) const;
    // tracks.json: every started track's place on the wall clock and how it went.
    void writeTracks() const;

    RecorderEntryPoints entries;
    bool recording = false;
    std::thread silentThread;
    std::thread playbackThread;
    std::thread screenThread;
    std::thread micThread;
    std::thread inputThread;
    std::thread webcamThread;
};
