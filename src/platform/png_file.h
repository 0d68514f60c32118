#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Writes straight-alpha RGBA pixels (rows from the top) as a PNG file; false, with the reason,
// when it cannot.
bool writePngFile(const std::filesystem::path& path, int32_t width, int32_t height, const uint8_t* rgba,
                  std::string& reason);
