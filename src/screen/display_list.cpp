#include "screen/display_list.h"

#include <algorithm>

std::vector<DisplayEntry> listDisplays(VideoFactory& factory) {
    std::vector<DisplayEntry> displays;
    // Bounded, so a layer that never reports the end of a list cannot hold the caller forever.
    constexpr uint32_t maxEntries = 256;
    for (uint32_t adapterIndex = 0; adapterIndex < maxEntries; ++adapterIndex) {
        std::unique_ptr<VideoAdapter> adapter;
        if (failed(factory.enumAdapters(adapterIndex, adapter)) || !adapter) break;
        AdapterDescription description;
        adapter->describe(description);
        for (uint32_t outputIndex = 0; outputIndex < maxEntries; ++outputIndex) {
            OutputDescription output;
            if (failed(adapter->describeOutput(outputIndex, output))) break;
            if (!output.attachedToDesktop || output.right <= output.left || output.bottom <= output.top) continue;
            DisplayEntry entry;
            entry.index = static_cast<uint32_t>(displays.size());
            entry.adapterIndex = adapterIndex;
            entry.outputIndex = outputIndex;
            entry.adapterLuid = description.luid;
            entry.adapterName = description.description;
            entry.output = std::move(output);
            displays.push_back(std::move(entry));
        }
    }
    if (displays.empty()) return displays;
    auto primary = std::find_if(displays.begin(), displays.end(), [](const DisplayEntry& d) { return d.output.primary; });
    if (primary == displays.end()) {
        primary = std::find_if(displays.begin(), displays.end(), [](const DisplayEntry& d) {
            return d.output.left <= 0 && d.output.top <= 0 && d.output.right > 0 && d.output.bottom > 0;
        });
    }
    if (primary == displays.end()) primary = displays.begin();
    for (DisplayEntry& display : displays) display.output.primary = false;
    primary->output.primary = true;
    return displays;
}

std::optional<DisplayEntry> primaryDisplay(const std::vector<DisplayEntry>& displays) {
    for (const DisplayEntry& display : displays) {
        if (display.output.primary) return display;
    }
    return std::nullopt;
}
