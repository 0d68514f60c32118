#include "platform/audio_stream_state.h"

// WASAPI's invalidated endpoint ends miniaudio's data loop and leaves the device stopped, which
// the recorders see in the device's state.
bool audioStreamBroken(const ma_device&) { return false; }

std::optional<int64_t> captureAgeTicks(ma_device&, uint32_t) { return std::nullopt; }
