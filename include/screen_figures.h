#pragma once

#include <cstdint>

#include "recording_settings.h"

// The screen figures by their usual names: views into processRecordingState().figures
// (include/recording_state.h, which says who writes and reads them).
extern uint32_t& VIDEO_FPS;
extern uint32_t& VIDEO_BIT_RATE;
extern uint32_t& VIDEO_WIDTH;   // 0 when the set-up did not get as far as the size
extern uint32_t& VIDEO_HEIGHT;
extern CaptureArea& recordedArea;    // the area recorded; all zero for the whole output or none
extern int64_t& recordingStartTime;  // ms since 1970-01-01 UTC of the first written screen sample, else 0
