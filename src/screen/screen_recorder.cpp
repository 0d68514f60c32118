#include "screen/screen_recorder.h"

void runScreenRecorder(RecordingSettings) {}
