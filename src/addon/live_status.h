#pragma once

#include <spdlog/fwd.h>

// Recording control's side of the live status: zeroes the figures and the failures (begin), and
// freezes the elapsed time (end).
void beginLiveStatus();
// The form older callers use; the logger is not needed any more.
inline void beginLiveStatus(spdlog::logger&) { beginLiveStatus(); }
void endLiveStatus();
