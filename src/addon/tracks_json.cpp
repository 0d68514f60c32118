#include "addon/tracks_json.h"

#include <nlohmann/json.hpp>

namespace {

// Fractional milliseconds from 100 ns ticks.
double millis(int64_t ticks) { return static_cast<double>(ticks) / 10000.0; }

const char* countUnit(const std::string& track) {
    if (track == "microphone" || track == "systemAudio") return "frames";
    if (track == "input") return "events";
    return "samples";
}

}  // namespace

std::vector<TrackEntry> startedTracks(const RecordingSettings& settings, bool webcamRecorder) {
    struct Started {
        bool wanted;
        const char* track;
        const char* file;
    };
    const Started all[] = {
        {true, "screen", "output.mp4"},
        {webcamRecorder && settings.webcamIndex != -1, "webcam", "webcam.mp4"},
        {settings.micIndex != -1, "microphone", "mivox.wav"},
        {settings.systemAudioIndex != -1, "systemAudio", "output.wav"},
        {true, "input", "positions.json"},
    };
    std::vector<TrackEntry> tracks;
    for (const Started& s : all) {
        if (s.wanted) tracks.push_back({s.track, s.file, readTrackRecord(s.track)});
    }
    return tracks;
}

std::string buildTracksJson(const std::vector<TrackEntry>& tracks, const std::vector<TrackFailure>& failures,
                            const std::vector<RecordingPause>& pauses) {
    nlohmann::json list = nlohmann::json::array();
    for (const TrackEntry& t : tracks) {
        const TrackRecord& r = t.record;
        nlohmann::json entry;
        entry["kind"] = t.track;
        entry["file"] = t.file;
        if (t.track == "input") entry["files"] = {"positions.json", "clicks.json"};
        entry["device"] = r.device;
        if (r.display) {
            // Where the video sits on the virtual desktop, so that positions.json maps onto it.
            entry["display"] = {{"index", r.display->index},   {"name", r.display->name},
                                {"left", r.display->left},     {"top", r.display->top},
                                {"right", r.display->right},   {"bottom", r.display->bottom},
                                {"rotation", r.display->rotation}};
        }
        entry["start"] = r.startTicks != 0 ? nlohmann::json(millis(r.startTicks)) : nlohmann::json(nullptr);
        entry["duration"] = millis(r.durationTicks);
        entry["count"] = r.count;
        entry["unit"] = countUnit(t.track);
        entry["lost"] = r.lost;
        if (t.track == "microphone" || t.track == "systemAudio") {
            // The device's clock against the recording's and how much the resampling made up.
            entry["rateErrorPpm"] = r.rateErrorPpm ? nlohmann::json(*r.rateErrorPpm) : nlohmann::json(nullptr);
            entry["correctionMs"] = r.correctionMs;
            entry["droppedFrames"] = r.dropped;
        }
        if (t.track == "webcam") {
            // Where the camera was away: stretches of the file without frames, in ms from its start.
            nlohmann::json gaps = nlohmann::json::array();
            for (const auto& [from, to] : r.gaps) gaps.push_back({{"from", millis(from)}, {"to", millis(to)}});
            entry["gaps"] = gaps;
        }
        // Where the track's picture stood still because its source could not be captured; an
        // outage still open at the end lasts to the track's end.
        if (t.track == "screen" || !r.outages.empty()) {
            nlohmann::json outages = nlohmann::json::array();
            for (const TrackOutage& o : r.outages) {
                outages.push_back({{"start", millis(o.startTicks)},
                                   {"end", o.endTicks != 0 ? nlohmann::json(millis(o.endTicks)) : nlohmann::json(nullptr)}});
            }
            entry["outages"] = std::move(outages);
        }
        // Only where there is one, so tracks without warnings keep their keys.
        for (const TrackWarning& w : r.warnings) entry["warnings"].push_back({{"code", w.code}, {"message", w.message}});
        std::string status = "recorded";
        std::string reason;
        nlohmann::json code = nullptr;
        for (const TrackFailure& f : failures) {
            if (f.track == t.track) {
                status = "failed";
                reason = f.message;
                code = trackEventCodeName(f.code);
            }
        }
        if (status == "recorded" && r.startTicks == 0) {
            status = "empty";
            reason = "nothing was captured";
        }
        entry["status"] = status;
        entry["reason"] = reason;
        entry["code"] = code;
        list.push_back(std::move(entry));
    }
    nlohmann::json paused = nlohmann::json::array();
    for (const RecordingPause& p : pauses) paused.push_back({{"start", millis(p.startTicks)}, {"end", millis(p.endTicks)}});
    return nlohmann::json{{"pauses", paused}, {"tracks", list}}.dump(4);
}
