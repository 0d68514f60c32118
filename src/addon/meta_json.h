#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "recording_journal.h"
#include "recording_settings.h"

// What meta.json states.
struct MetaFigures {
    uint32_t fps = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    CaptureArea rx;
    int64_t time = 0;
    int32_t micIndex = -1;
    int32_t systemAudioIndex = -1;
};

std::string metaJson(const MetaFigures& figures);

// meta.json: the recording's description that lets a host line the tracks up. Reads the
// process-wide screen figures, so call it after the screen thread has been joined.
std::string buildMetaJson(const RecordingSettings& settings);

// Appends what meta.json would state now to the recording's journal, if it has one: at start
// with what the settings know, again once the screen's first sample is in the file.
void journalMeta(const RecordingSettings& settings, const MetaFigures& figures);

// The last meta line of a journal's text as meta.json's text; empty when there is none.
std::string metaJsonFromJournal(const std::string& journal);

// The path as one quoted line for standard output: backslashes and double quotes escaped.
std::string quotedPathLine(const std::filesystem::path& path);
