#include "audio/silent_player.h"

void runSilentPlayer(RecordingSettings) {}
