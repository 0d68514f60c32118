#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fragmented_mp4_reader.h"

// The moov of an ordinary MPEG-4 file for `movie`'s video samples where they lie in the file:
// its headers and sample description come from the fragmented file's moov, its sample tables
// and durations from the samples. `lastSampleDuration` (100 ns, 0 for the one its run states)
// is the last sample's own duration.
struct MovieIndex {
    std::vector<uint8_t> moov;
    double seconds = 0;   // the end of the last sample
    std::string problem;  // set when no index can be made
};
MovieIndex buildMovieIndex(const FragmentedMp4& movie, int64_t lastSampleDuration);
