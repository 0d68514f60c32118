#include "audio/silent_player.h"

#include <spdlog/spdlog.h>

#include "audio/silent_keep_alive.h"
#include "platform/silent_render_stream.h"

void runSilentPlayer(RecordingSettings settings) {
    const StreamStatus status = keepSilencePlaying(makeSilentRenderStream, *settings.logger, std::chrono::milliseconds(500),
                                                   std::chrono::milliseconds(1000), watchDefaultOutput);
    if (!streamFailed(status)) settings.logger->info("silent: AudioCapture_Start success");
}
