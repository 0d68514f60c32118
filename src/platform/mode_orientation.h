#pragma once

#include <cstdint>
#include <optional>
#include <utility>

// A duplicated display's mode as the user sees the desktop: 768 x 1024 for a portrait display,
// whose frames stay unrotated (1024 x 768). The output's desktop rectangle, which is always in
// the desktop's orientation, decides by its aspect (scaling for a DPI-unaware host keeps that).
// Without it the mode is taken as the surface's size, which is the unrotated one.
inline void orientModeSize(uint32_t& width, uint32_t& height, uint32_t rotation, std::optional<bool> desktopIsPortrait) {
    if (width == height) return;
    if (desktopIsPortrait) {
        if ((height > width) != *desktopIsPortrait) std::swap(width, height);
        return;
    }
    if (rotation == 90 || rotation == 270) std::swap(width, height);
}
