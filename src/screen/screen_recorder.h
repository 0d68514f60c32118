#pragma once

#include "recording_settings.h"

// Thread function of the screen track: captures output 0 into output.mp4 until screenRunning falls.
void runScreenRecorder(RecordingSettings settings);
