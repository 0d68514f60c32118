#include "track_events.h"

#include <spdlog/spdlog.h>

#include "recording_status.h"

const char* trackEventCodeName(TrackEventCode code) {
    switch (code) {
    case TrackEventCode::openFailed: return "openFailed";
    case TrackEventCode::deviceLost: return "deviceLost";
    case TrackEventCode::deviceBack: return "deviceBack";
    case TrackEventCode::writeFailed: return "writeFailed";
    case TrackEventCode::diskFull: return "diskFull";
    case TrackEventCode::unsupportedFormat: return "unsupportedFormat";
    case TrackEventCode::deviceBusy: return "deviceBusy";
    case TrackEventCode::accessDenied: return "accessDenied";
    case TrackEventCode::noSoundServer: return "noSoundServer";
    case TrackEventCode::noDisplay: return "noDisplay";
    case TrackEventCode::captureOutage: return "captureOutage";
    case TrackEventCode::deviceChanged: return "deviceChanged";
    case TrackEventCode::clockDrift: return "clockDrift";
    case TrackEventCode::runawayDevice: return "runawayDevice";
    case TrackEventCode::partialCapture: return "partialCapture";
    case TrackEventCode::queueFull: return "queueFull";
    case TrackEventCode::other: return "other";
    }
    return "other";
}

const char* trackEventKindName(TrackEventKind kind) {
    switch (kind) {
    case TrackEventKind::failure: return "failure";
    case TrackEventKind::lost: return "lost";
    case TrackEventKind::back: return "back";
    case TrackEventKind::outage: return "outage";
    case TrackEventKind::warning: return "warning";
    }
    return "warning";
}

void reportTrackEvent(spdlog::logger& log, TrackEventKind kind, const char* track, TrackEventCode code,
                      const std::string& message) {
    switch (kind) {
    case TrackEventKind::failure:
    case TrackEventKind::lost:
    case TrackEventKind::outage:
        log.error("{}", message);
        break;
    case TrackEventKind::warning:
        log.warn("{}", message);
        noteTrackWarning(track, trackEventCodeName(code), message);
        break;
    case TrackEventKind::back:
        log.info("{}", message);
        clearTrackFailure(track);
        break;
    }
}
