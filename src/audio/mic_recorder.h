#pragma once

#include "recording_settings.h"

// Thread function of the microphone track: records the capture device at micIndex into mivox.wav.
void runMicRecorder(RecordingSettings settings);
