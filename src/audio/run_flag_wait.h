#pragma once

#include <atomic>
#include <chrono>

// Sleeps for `duration` but returns early when `flag` falls; true when it is still raised.
bool sleepWhileRaised(const std::atomic<bool>& flag, std::chrono::milliseconds duration);
