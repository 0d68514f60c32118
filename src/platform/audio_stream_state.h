#pragma once

#include <cstdint>
#include <optional>

#include "miniaudio.h"

// True when the sound server has dropped `device`'s stream although miniaudio still counts the
// device as started. miniaudio 0.11.22's PulseAudio backend reports neither a dead server nor a
// removed source: its stream fails, no callback comes and no notification either. On WASAPI a
// removed endpoint ends miniaudio's data loop, which leaves the device stopped; nothing more is
// needed there.
bool audioStreamBroken(const ma_device& device);

// Called from a capture device's data callback with the `frameCount` frames it is handed: how long
// ago (100 ns) the first of them was captured, by the sound server's own latency report or the
// sound card's capture position. Negative when it is still to come: a sink's monitor hands over
// what the sink has rendered before it plays it. Nothing where the backend does not say (WASAPI
// through miniaudio, which keeps the capture position to itself).
std::optional<int64_t> captureAgeTicks(ma_device& device, uint32_t frameCount);
