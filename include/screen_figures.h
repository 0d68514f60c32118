#pragma once

#include <cstdint>

#include "recording_settings.h"

// Written by the screen recorder thread, read by recording end after joining it. The screen
// recorder clears the size, area and start time when it starts, so that a recording whose screen
// track got less far never reports an earlier recording's figures.
extern uint32_t VIDEO_FPS;
extern uint32_t VIDEO_BIT_RATE;
extern uint32_t VIDEO_WIDTH;   // 0 when the set-up did not get as far as the size
extern uint32_t VIDEO_HEIGHT;
extern CaptureArea recordedArea;    // the area recorded; all zero for the whole output or none
extern int64_t recordingStartTime;  // ms since 1970-01-01 UTC of the first written screen sample, else 0
