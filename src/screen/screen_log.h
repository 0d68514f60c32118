#pragma once

#include <spdlog/logger.h>

#include "recording_settings.h"

// The recording's logger, or one that drops everything when the settings carry none.
inline spdlog::logger& screenLog(const RecordingSettings& settings) {
    static spdlog::logger silent("screen_silent");
    return settings.logger ? *settings.logger : silent;
}
