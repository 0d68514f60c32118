#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/video_capture.h"

// The displays of the desktop: every output attached to it, adapter by adapter in the system's
// default order, output by output. A display's index is its position in this list, the number
// the `display` start option and listDisplays() use.
struct DisplayEntry {
    uint32_t index = 0;
    uint32_t adapterIndex = 0;  // in the default adapter order
    uint32_t outputIndex = 0;   // among its adapter's outputs
    uint64_t adapterLuid = 0;
    std::string adapterName;
    OutputDescription output;
};

// Exactly one entry is primary: the one the platform marks, else the one holding the desktop's
// point (0, 0), else the first.
std::vector<DisplayEntry> listDisplays(VideoFactory& factory);

// The primary display, none when the desktop has no display.
std::optional<DisplayEntry> primaryDisplay(const std::vector<DisplayEntry>& displays);
