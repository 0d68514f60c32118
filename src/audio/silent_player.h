#pragma once

#include "recording_settings.h"

// Thread function of the keep-alive: plays silence on the default output while system audio is recorded.
void runSilentPlayer(RecordingSettings settings);
