#pragma once

#include <filesystem>
#include <string>

// Paths cross the JavaScript boundary, the log and standard output as UTF-8 on every platform.
// Windows keeps paths wide, and the narrow conversions (path(std::string), path::string()) go
// through the ANSI code page there: "é" would become another folder, so always convert here.
inline std::filesystem::path pathFromUtf8(const std::string& text) { return std::filesystem::u8path(text); }

inline std::string utf8FromPath(const std::filesystem::path& path) { return path.u8string(); }
