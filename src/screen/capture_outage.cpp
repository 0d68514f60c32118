#include "screen/capture_outage.h"

namespace {

constexpr int64_t millis = 10000;
constexpr int64_t seconds = 1000 * millis;

}  // namespace

bool isCaptureOutage(HResult result) {
    switch (result) {
    case hresult::accessLost:
    case hresult::accessDenied:
    case hresult::unsupported:
    case hresult::notCurrentlyAvailable:
    case hresult::sessionDisconnected:
        return true;
    default:
        return needsNewDevice(result);
    }
}

bool needsNewDevice(HResult result) {
    // The reasons a removed device gives; a driver's internal error leaves it removed too.
    return result == hresult::deviceRemoved || result == hresult::deviceReset || result == hresult::deviceHung ||
           result == hresult::driverInternalError;
}

int64_t CaptureBackoff::intervalAfter(int64_t outageTicks) {
    if (outageTicks < 5 * seconds) return 250 * millis;
    if (outageTicks < 60 * seconds) return 1 * seconds;
    return 2 * seconds;
}

void CaptureBackoff::start(int64_t now) {
    started = now;
    nextAttempt = now;
}

void CaptureBackoff::attemptFailed(int64_t now) { nextAttempt = now + intervalAfter(now - started); }
