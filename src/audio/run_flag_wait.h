#pragma once

#include <atomic>
#include <chrono>

// Returns once `flag` is down, testing it every `poll`.
void waitWhileRaised(const std::atomic<bool>& flag, std::chrono::milliseconds poll);

// Sleeps for `duration` but returns early when `flag` falls; true when it is still raised.
bool sleepWhileRaised(const std::atomic<bool>& flag, std::chrono::milliseconds duration);
