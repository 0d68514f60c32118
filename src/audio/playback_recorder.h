#pragma once

#include "recording_settings.h"

// Thread function of the system-audio track: records the default output into output.wav.
void runPlaybackRecorder(RecordingSettings settings);
