#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What recovery did to one file of a project directory.
struct RecoveredFile {
    std::string file;     // name inside the directory
    std::string status;   // "unchanged", "recovered" or "failed"
    double seconds = -1;  // the media or input time the file now holds; -1 when not measured
    std::string detail;   // what was done, or why it failed
};

// Turns an interrupted recording's directory into a finished one with the writers' own finishing
// code: fragmented videos made ordinary, WAV sizes mended, the input JSON files and meta.json
// rebuilt from the journal. A finished directory is left as it is. Files that are absent are not
// listed.
std::vector<RecoveredFile> recoverProject(const std::filesystem::path& dir);
