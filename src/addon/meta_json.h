#pragma once

#include <filesystem>
#include <string>

#include "recording_settings.h"

// meta.json: the recording's description that lets a host line the tracks up. Reads the
// process-wide screen figures, so call it after the screen thread has been joined.
std::string buildMetaJson(const RecordingSettings& settings);

// The path as one quoted line for standard output: backslashes and double quotes escaped.
std::string quotedPathLine(const std::filesystem::path& path);
