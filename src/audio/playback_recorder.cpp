#include "audio/playback_recorder.h"

void runPlaybackRecorder(RecordingSettings) {}
