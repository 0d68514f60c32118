#pragma once

#include <cstdint>

// Written by the screen recorder thread, read by recording end after joining it.
// Not reset between recordings.
extern uint32_t VIDEO_FPS;
extern uint32_t VIDEO_BIT_RATE;
extern uint32_t VIDEO_WIDTH;
extern uint32_t VIDEO_HEIGHT;
extern int64_t recordingStartTime;  // ms since 1970-01-01 UTC of the first written screen sample
