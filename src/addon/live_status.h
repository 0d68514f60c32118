#pragma once

#include <spdlog/fwd.h>

// Recording control's side of the live status: zeroes the figures and starts watching the
// recording log for tracks that stop with an error (begin), and freezes the elapsed time (end).
void beginLiveStatus(spdlog::logger& logger);
void endLiveStatus();
