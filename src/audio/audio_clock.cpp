#include "audio/audio_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "wall_clock.h"

namespace {

constexpr int64_t ticksPerSecond = AudioClock::ticksPerSecond;
constexpr int64_t rate = AudioClock::rate;
// Timed callbacks in a row that must lie behind the clock before their lag counts as lost frames.
constexpr uint32_t timedLateCallbacks = 4;
// A lag beyond this is frames that went missing, not a clock that runs slowly.
constexpr int64_t lossLimit = ticksPerSecond / 50;
// Frames further ahead than this are not drift either (a device delivering far too many).
constexpr int64_t aheadLimit = ticksPerSecond / 50;
// How much earlier than the recording's start a backend may place a first frame.
constexpr int64_t startSlack = ticksPerSecond / 20;
// The start is the earliest estimate over the first seconds of audio, and after a gap frames ahead
// of the clock are left out for as long (a late first callback made the gap's fill too long).
constexpr uint64_t settleFrames = 2 * rate;
constexpr uint64_t catchUpFrames = 2 * rate;
// Crystals run within a few hundred ppm; beyond this it is not drift, and resampling by it would
// be audible.
constexpr double maxDriftPpm = 2000;
// A lag that remains (the start's estimate, the rate's error) is resampled away at this share
// of itself per second, but never faster than `maxOffsetPpm`: inaudible, and no race with the
// fills for frames that went missing.
constexpr double offsetGain = 0.1;
constexpr double maxOffsetPpm = 500;
// Window points (one per second of audio) that the rate is measured over.
constexpr size_t maxPoints = 180;
constexpr size_t minPoints = 5;
constexpr double minSpanSeconds = 8;

int64_t ticksOf(uint64_t frames) { return static_cast<int64_t>(frames) * ticksPerSecond / rate; }
uint64_t framesOf(int64_t ticks) { return ticks <= 0 ? 0 : static_cast<uint64_t>(ticks * rate / ticksPerSecond); }

int64_t steadyNow() {
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

AudioClock::AudioClock() : AudioClock(steadyNow, wallClockTicks) {}

AudioClock::AudioClock(TickSource steady, TickSource wall) : steady(std::move(steady)), wall(std::move(wall)) { reset(); }

void AudioClock::reset() {
    floorTicks = steady() - startSlack;
    started = false;
    t0 = 0;
    wallOffset = 0;
    lastCallback = 0;
    filed = 0;
    filled = 0;
    dropped = 0;
    lastGap = 0;
    pendingAfter = 0;
    settleEnd = 0;
    catchUpEnd = 0;
    settled = false;
    lateCallbacks = 0;
    lateMinimum = 0;
    lateMaximum = 0;
    fragmentCaptured = 0;
    fragmentFrames = 0;
    windowEnd = 0;
    windowEndTicks = 0;
    windowMinimum = 0;
    lastWindowExcess = 0;
    restartRate();
    measured = false;
    devicePpm = 0;
    ratio = 1.0;
    correction = 0;
    paceStarted = false;
    paceWindowStart = 0;
    paceFrames = 0;
    fastWindows = 0;
    slowWindows = 0;
    paceState = Pace::normal;
    lastDeliveredRate = 0;
}

void AudioClock::restartRate() {
    offsets.clear();
    offsetSeen = false;
    deviceFrames = 0;
    rateStarted = false;
    rateOrigin = 0;
}

AudioClock::Placement AudioClock::place(uint32_t count, std::optional<int64_t> firstFrameAgeTicks, bool restart,
                                        bool afterGap) {
    const int64_t now = steady();
    lastCallback = now;
    Placement placement;
    placement.ratio = ratio;
    // When the callback's first frame was captured: as the backend says, or else the newest frame
    // was captured just before the callback ran.
    int64_t captured = now - firstFrameAgeTicks.value_or(ticksOf(count));
    if (firstFrameAgeTicks) {
        // miniaudio hands a fragment larger than its period over in several callbacks, all timed
        // by the same report: one whose fragment started where the last one's did follows on.
        if (fragmentFrames != 0 && std::abs(captured - fragmentCaptured) < ticksPerSecond / 1000) {
            captured = fragmentCaptured + ticksOf(fragmentFrames);
            fragmentFrames += count;
        } else {
            fragmentCaptured = captured;
            fragmentFrames = count;
        }
    }
    if (restart || afterGap) paceStarted = false;
    watchPace(now, count);

    if (afterGap && started && filed != 0) {
        // The device is back: silence from where the file's next frame belongs to the capture of
        // this callback's first frame keeps what follows on the clock.
        const int64_t due = t0 + ticksOf(filed);
        if (captured > due) placement.before = framesOf(captured - due);
        filed += placement.before;
        filled += placement.before;
        lastGap = placement.before;
        // The start stays where the frames before the gap put it: a late first callback of the
        // new stream would otherwise drag it (and everything before the gap) early.
        settled = true;
        catchUpEnd = filed + catchUpFrames;
        restartRate();  // the device's own frame count starts over; its rate is still the one measured
        lateCallbacks = 0;
    }

    // Where this callback's first frame puts the file's first frame.
    int64_t implied = captured - ticksOf(filed);
    const bool first = !started || restart;
    if (first) {
        wallOffset = wall() - now;
        t0 = std::max(implied, floorTicks);
        started = true;
        settleEnd = filed + settleFrames;
        restartRate();
        lateCallbacks = 0;
    } else if (!settled && filed < settleEnd) {
        // A late callback only pushes the implied start later, so the earliest is the estimate;
        // but no frame was captured before the recording began.
        t0 = std::max(std::min(t0, implied), floorTicks);
    }

    // Frames ahead of the clock: before the recording began, right after a gap (the gap's fill
    // was too long), or further than any drift explains (a device that delivers too many). Leaving
    // them out puts what follows back on the clock.
    const bool exact = (!settled && filed < settleEnd) || filed < catchUpEnd;
    const int64_t ahead = t0 - implied;
    if (ahead > (exact ? 0 : aheadLimit)) {
        placement.dropped = static_cast<uint32_t>(std::min<uint64_t>(count, framesOf(ahead)));
        dropped += placement.dropped;
    }

    // The device's own frames against the steady clock, for its rate.
    if (!rateStarted) {
        rateStarted = true;
        rateOrigin = captured;
    }
    const Point point{static_cast<double>(captured - rateOrigin) / ticksPerSecond,
                      static_cast<double>(captured - rateOrigin - ticksOf(deviceFrames)) / ticksPerSecond};
    if (!offsetSeen || point.offset < windowOffset.offset) windowOffset = point;
    offsetSeen = true;
    deviceFrames += count;

    const uint32_t kept = count - placement.dropped;
    if (kept == 0) return placement;
    implied = captured + ticksOf(placement.dropped) - ticksOf(filed);
    if (first || afterGap) {
        // A second of audio measured afresh.
        windowMinimum = implied;
        lastWindowExcess = 0;
        windowEnd = filed + kept + rate;
        windowEndTicks = now + ticksPerSecond;
        return placement;
    }
    if (firstFrameAgeTicks) {
        // The backend timed this callback, so a late one is not merely delayed (its wait is in
        // the latency): frames before it went missing. A few callbacks in a row saying so are
        // enough; silence of the least of their lag puts what follows back on the clock.
        const int64_t late = implied - t0;
        if (late > lossLimit) {
            const uint32_t run = ++lateCallbacks;
            lateMinimum = run == 1 ? late : std::min(lateMinimum, late);
            lateMaximum = run == 1 ? late : std::max(lateMaximum, late);
            // Missing frames put every later callback behind by the same amount; lags that
            // disagree come from the timing reports, not from the audio: start over.
            if (lateMaximum - lateMinimum > ticksPerSecond / 100) {
                lateCallbacks = 1;
                lateMinimum = late;
                lateMaximum = late;
            } else if (run >= timedLateCallbacks) {
                placement.after = static_cast<uint32_t>(framesOf(lateMinimum));
                pendingAfter = placement.after;
                lateCallbacks = 0;
                windowMinimum = implied - lateMinimum;
                lastWindowExcess = 0;
                return placement;
            }
        } else {
            lateCallbacks = 0;
        }
    }
    windowMinimum = std::min(windowMinimum, implied);
    if (filed + kept < windowEnd && now < windowEndTicks) return placement;

    // A whole second of audio (or of the clock): how far its best estimate lies behind the start. Two seconds in a
    // row behind by more than drift explains means frames went missing (a burst after a stalled
    // thread catches up within one); silence in their place keeps the rest of the file on the
    // clock. What remains is drift, which the resampling takes away.
    const int64_t excess = windowMinimum - t0;
    // A device known to deliver far too few frames needs no second opinion.
    const int64_t sure = paceState == Pace::slow ? excess : std::min(excess, lastWindowExcess);
    windowMinimum = implied;
    windowEnd = filed + kept + rate;
    windowEndTicks = now + ticksPerSecond;
    int64_t lag = excess;
    if (sure > lossLimit) {
        placement.after = static_cast<uint32_t>(framesOf(sure));
        pendingAfter = placement.after;
        lastWindowExcess = excess - sure;
        lag = excess - sure;
    } else {
        lastWindowExcess = excess;
    }
    closeWindow(lag);
    return placement;
}

void AudioClock::wrote(uint32_t kept, uint64_t written) {
    filed += written + pendingAfter;
    filled += pendingAfter;
    // Frames that never came are device time that went by.
    deviceFrames += pendingAfter;
    pendingAfter = 0;
    correction += static_cast<int64_t>(written) - static_cast<int64_t>(kept);
}

void AudioClock::closeWindow(int64_t lagTicks) {
    if (offsetSeen) {
        offsets.push_back(windowOffset);
        if (offsets.size() > maxPoints) offsets.erase(offsets.begin());
        offsetSeen = false;
    }
    measureRate();
    const double drift = measured ? devicePpm : 0.0;
    const double lagSeconds = static_cast<double>(lagTicks) / ticksPerSecond;
    const double offsetPpm = std::clamp(offsetGain * lagSeconds * 1e6, -maxOffsetPpm, maxOffsetPpm);
    ratio = (1 + offsetPpm * 1e-6) / (1 + drift * 1e-6);
}

void AudioClock::measureRate() {
    if (offsets.size() < minPoints || offsets.back().at - offsets.front().at < minSpanSeconds) return;
    // The slope of the earliest offsets against time, as the median of the slopes between every
    // two points at least two seconds apart (Theil-Sen): a window of late callbacks or a burst
    // moves its own point, not the line.
    slopes.clear();
    for (size_t i = 0; i < offsets.size(); ++i) {
        for (size_t j = i + 1; j < offsets.size(); ++j) {
            const double span = offsets[j].at - offsets[i].at;
            if (span >= 2) slopes.push_back((offsets[j].offset - offsets[i].offset) / span);
        }
    }
    if (slopes.empty()) return;
    const auto middle = slopes.begin() + static_cast<std::ptrdiff_t>(slopes.size() / 2);
    std::nth_element(slopes.begin(), middle, slopes.end());
    // The offset falls by the share of frames the device delivers too many. Far beyond what a
    // crystal does it is a device delivering in bursts (an idle output restarted), not its rate.
    const double ppm = -*middle * 1e6;
    if (std::abs(ppm) > maxDriftPpm) return;
    devicePpm = ppm;
    measured = true;
}

void AudioClock::watchPace(int64_t now, uint32_t count) {
    if (!paceStarted) {
        paceStarted = true;
        paceWindowStart = now;
        paceFrames = 0;
        return;
    }
    paceFrames += count;
    const int64_t elapsed = now - paceWindowStart;
    if (elapsed < ticksPerSecond) return;
    lastDeliveredRate = static_cast<double>(paceFrames) * ticksPerSecond / static_cast<double>(elapsed);
    paceWindowStart = now;
    paceFrames = 0;
    const bool fast = lastDeliveredRate > 2.0 * rate;
    const bool slow = lastDeliveredRate < 0.5 * rate;
    fastWindows = fast ? fastWindows + 1 : 0;
    slowWindows = slow ? slowWindows + 1 : 0;
    if (paceState == Pace::fast) return;  // the track ends on it
    if (fastWindows >= 2) {
        paceState = Pace::fast;
    } else if (slowWindows >= 2) {
        paceState = Pace::slow;
    } else if (!fast && !slow) {
        paceState = Pace::normal;
    }
}

uint64_t AudioClock::fillUntilNow() {
    if (filed == 0) return 0;
    const int64_t due = t0 + ticksOf(filed);
    const uint64_t fill = framesOf(steady() - due);
    filed += fill;
    filled += fill;
    return fill;
}
