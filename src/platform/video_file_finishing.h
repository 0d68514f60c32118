#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Turning an MPEG-4 file that a recording left fragmented (written in short self-contained parts
// so that a killed process loses only the last second) into an ordinary one with its index, which
// every editor reads. The recorder does it at the end of a recording; recovery does it for a
// recording whose process died.

struct VideoFinishResult {
    enum class Outcome { alreadyOrdinary, finished, failed };
    Outcome outcome = Outcome::failed;
    double seconds = 0;   // the video the file holds after finishing (0 when already ordinary)
    std::string problem;  // why it failed
};

// True when the file's top level holds a box of the four-character `type` ("moof" marks a
// fragmented file, "moov" without "moof" an ordinary one).
bool mp4HasTopLevelBox(const std::filesystem::path& file, const char* type);

// Makes a fragmented file an ordinary one in place (an index after its data; each step leaves a
// file that plays, and one that fails leaves it as it was), keeping every complete sample with its
// time. An ordinary file is left untouched. The last fragment does not keep its last sample's own duration (it reads back as one
// frame at the nominal rate); the writer, which knows it, passes `lastSampleDuration` (100 ns).
VideoFinishResult finishVideoFile(const std::filesystem::path& file, int64_t lastSampleDuration = 0);
