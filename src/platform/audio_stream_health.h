#pragma once

#include "miniaudio.h"

// True when the sound server has dropped `device`'s stream although miniaudio still counts the
// device as started. miniaudio 0.11.22's PulseAudio backend reports neither a dead server nor a
// removed source: its stream fails, no callback comes and no notification either. On WASAPI a
// removed endpoint ends miniaudio's data loop, which leaves the device stopped; nothing more is
// needed there.
bool audioStreamBroken(const ma_device& device);
