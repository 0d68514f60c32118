#pragma once

#include <chrono>

#include "platform/silent_render_stream.h"

namespace spdlog {
class logger;
}

// Sets `stream` up with one second of queued silence, then, while silentRunning is up, tops the
// queue up to one second every `cyclePeriod` (while silentFeeding is up). Logs each step's
// outcome with the "silent: " prefix. Returns the status of the last set-up step taken.
StreamStatus runSilentKeepAlive(SilentRenderStream& stream, spdlog::logger& log,
                                std::chrono::milliseconds cyclePeriod = std::chrono::milliseconds(500));
