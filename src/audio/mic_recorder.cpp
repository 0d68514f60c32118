#include "audio/mic_recorder.h"

void runMicRecorder(RecordingSettings) {}
