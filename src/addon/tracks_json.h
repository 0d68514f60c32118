#pragma once

#include <string>
#include <vector>

#include "recording_settings.h"
#include "recording_status.h"

// One line of tracks.json: a track that was started, where it sits on the wall clock and how it went.
struct TrackEntry {
    std::string track;  // "screen", "webcam", "microphone", "systemAudio" or "input"
    std::string file;
    TrackRecord record;
};

// The tracks a recording with these settings starts, in launch order, with their figures.
std::vector<TrackEntry> startedTracks(const RecordingSettings& settings, bool webcamRecorder);

// tracks.json's text. A track named in `failures` is "failed" with its log line as the reason and
// its event code as the code.
// "pauses" lists the recording's pauses on the wall clock (ms, like "start"): what the files leave
// out, so that wall-clock times (the input records') map onto the media's time.
std::string buildTracksJson(const std::vector<TrackEntry>& tracks, const std::vector<TrackFailure>& failures,
                            const std::vector<RecordingPause>& pauses = {});
