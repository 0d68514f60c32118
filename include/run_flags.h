#pragma once

#include <atomic>

// The recording's run flags, by their usual names: views into processRecordingState().flags
// (include/recording_state.h). Writers use sequentially consistent exchanges, readers atomic loads.
extern std::atomic<bool>& screenRunning;
extern std::atomic<bool>& screenRecording;
extern std::atomic<bool>& webcamRunning;
extern std::atomic<bool>& micRunning;
extern std::atomic<bool>& playbackRunning;
extern std::atomic<bool>& silentRunning;
extern std::atomic<bool>& silentFeeding;
extern std::atomic<bool>& inputRunning;
extern std::atomic<bool>& inputRecording;

// Raises (start) or lowers (end) all nine flags in their fixed order.
void setAllRunFlags(bool value);
