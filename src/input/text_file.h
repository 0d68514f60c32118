#pragma once

#include <filesystem>
#include <string>

// Creates or truncates `path` and writes `text` in one piece; false, with no file left and the
// system's reason in `reason` (when given), when it cannot.
bool writeTextFile(const std::filesystem::path& path, const std::string& text, std::string* reason = nullptr);
