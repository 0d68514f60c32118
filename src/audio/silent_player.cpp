#include "audio/silent_player.h"

#include <spdlog/spdlog.h>

#include "audio/silent_keep_alive.h"
#include "platform/silent_render_stream.h"

void runSilentPlayer(RecordingSettings settings) {
    StreamStatus status = 0;
    {
        const std::unique_ptr<SilentRenderStream> stream = makeSilentRenderStream();
        status = runSilentKeepAlive(*stream, *settings.logger);
    }
    if (!streamFailed(status)) settings.logger->info("silent: AudioCapture_Start success");
}
