#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recording_settings.h"
#include "recording_status.h"

// The run flags of the recording: raised by its start, lowered by its end (and by the screen
// recorder when it gives up). Writers use sequentially consistent exchanges, readers atomic loads.
struct RunFlags {
    std::atomic<bool> screenRunning{true};
    std::atomic<bool> screenRecording{false};
    std::atomic<bool> webcamRunning{true};
    std::atomic<bool> micRunning{false};
    std::atomic<bool> playbackRunning{false};
    std::atomic<bool> silentRunning{false};
    std::atomic<bool> silentFeeding{false};
    std::atomic<bool> inputRunning{false};
    std::atomic<bool> inputRecording{false};

    // Raises (start) or lowers (end) all nine in their fixed order.
    void setAll(bool value);
};

// What the screen recorder leaves for meta.json. Written by the screen thread, read by the end of
// the recording after joining it. The screen recorder clears the size, area and start time when
// it starts, so that a recording whose screen track got less far never reports an earlier one's.
struct ScreenFigures {
    uint32_t fps = 30;
    uint32_t bitRate = 18000000;
    uint32_t width = 0;  // 0 when the set-up did not get as far as the size
    uint32_t height = 0;
    CaptureArea area;        // the area recorded; all zero for the whole output or none
    int64_t startTime = 0;   // ms since 1970-01-01 UTC of the first written screen sample, else 0
};

// What the tracks said about themselves beyond their counters. Changed only when a track reports
// or the recording starts, pauses or resumes: the lock never sits on a capture path.
struct TrackNotes {
    std::mutex lock;
    std::vector<TrackFailure> failures;                          // one entry per failed track
    std::vector<TrackWarning> warnings;                          // each code once per track
    std::vector<std::pair<std::string, std::string>> devices;  // track, device name
    std::vector<RecordingPause> pauses;
    std::vector<TrackGap> gaps;                                    // stretches of a video file without frames
    std::vector<std::pair<std::string, TrackOutage>> outages;  // track, outage
    std::optional<RecordedDisplay> display;                     // the screen track's, once known
};

// Everything the threads of one recording share: the live status, the run flags, the screen
// figures and the tracks' notes. One recording runs at a time in a process, so the process has
// one; each start renews its status and notes as a whole (nothing of a new field is left from the
// recording before). The names of include/run_flags.h, include/screen_figures.h and
// recordingStatus refer into it.
struct RecordingState {
    RecordingStatus status;
    RunFlags flags;
    ScreenFigures figures;
    TrackNotes notes;
};

RecordingState& processRecordingState();
