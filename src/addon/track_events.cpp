#include "track_events.h"

#include <cerrno>
#include <cstring>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "recording_status.h"
#include "wall_clock.h"

namespace {

// Rides on the recording's logger so that every recorder, which holds the logger already,
// reaches the host's listener without a process-wide channel. It writes nothing.
class TrackEventSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
public:
    explicit TrackEventSink(TrackEventListener listener) : listener(std::move(listener)) {}
    void publish(const TrackEvent& event) const {
        if (listener) listener(event);
    }

protected:
    void sink_it_(const spdlog::details::log_msg&) override {}
    void flush_() override {}

private:
    TrackEventListener listener;
};

}  // namespace

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
    case TrackEventCode::captureFailed: return "captureFailed";
    case TrackEventCode::formatChanged: return "formatChanged";
    case TrackEventCode::sizeLimit: return "sizeLimit";
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
    reportTrackEvent(log, kind, track, code, message, TrackEventLine::asKind);
}

void reportTrackEvent(spdlog::logger& log, TrackEventKind kind, const char* track, TrackEventCode code,
                      const std::string& message, TrackEventLine line) {
    switch (kind) {
    case TrackEventKind::failure:
    case TrackEventKind::lost:
    case TrackEventKind::outage:
        if (line == TrackEventLine::info) {
            log.info("{}", message);
        } else {
            log.error("{}", message);
        }
        noteTrackFailure(track, code, message);
        break;
    case TrackEventKind::warning:
        if (line == TrackEventLine::info) {
            log.info("{}", message);
        } else if (line == TrackEventLine::error) {
            log.error("{}", message);
        } else {
            log.warn("{}", message);
        }
        noteTrackWarning(track, trackEventCodeName(code), message);
        break;
    case TrackEventKind::back:
        log.info("{}", message);
        clearTrackFailure(track);
        break;
    }
    const TrackEvent event{kind, track, code, message, wallClockTicks()};
    for (const spdlog::sink_ptr& sink : log.sinks()) {
        if (const auto* events = dynamic_cast<const TrackEventSink*>(sink.get())) events->publish(event);
    }
}

TrackEventCode writeFailureCode(const std::string& systemReason) {
    // strerror(ENOSPC) is what the file writers keep; Media Foundation says it in its own words.
    const bool full = systemReason.find(std::strerror(ENOSPC)) != std::string::npos ||
                      systemReason.find("not enough space on the disk") != std::string::npos;
    return full ? TrackEventCode::diskFull : TrackEventCode::writeFailed;
}

void attachTrackEventListener(spdlog::logger& log, TrackEventListener listener) {
    log.sinks().push_back(std::make_shared<TrackEventSink>(std::move(listener)));
}
