#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/default_output_watch.h"
#include "platform/silent_render_stream.h"

namespace spdlog {
class logger;
}

// Sets `stream` up with one second of queued silence, then, while silentRunning is up, tops the
// queue up to one second every `cyclePeriod` (while silentFeeding is up). Logs each step's
// outcome with the "silent: " prefix. Returns the status of the last set-up step taken.
StreamStatus runSilentKeepAlive(SilentRenderStream& stream, spdlog::logger& log,
                                std::chrono::milliseconds cyclePeriod = std::chrono::milliseconds(500));

// The keep-alive for a whole recording: runSilentKeepAlive on a stream from `makeStream`; when the
// output goes away during the recording (a refill fails), a new stream is set up every
// `retryPeriod` until one plays again or the recording ends. With `watch`, a new default output
// ends the stream at the next cycle and a new one is set up on the new output, so that loopback
// of the new output is kept running too. Returns the first set-up's status.
StreamStatus keepSilencePlaying(const std::function<std::unique_ptr<SilentRenderStream>()>& makeStream,
                                spdlog::logger& log, std::chrono::milliseconds cyclePeriod = std::chrono::milliseconds(500),
                                std::chrono::milliseconds retryPeriod = std::chrono::milliseconds(1000),
                                const std::function<std::unique_ptr<DefaultOutputWatch>()>& watch = {});
