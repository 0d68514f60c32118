#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/random_access_file.h"

// What a fragmented MPEG-4 file holds for its first video track, read from the box headers
// alone (the moov and every moof), never from the media: the cost grows with the number of
// fragments, not with the bytes.
struct Mp4Sample {
    int64_t offset = 0;            // in the file
    int64_t decodeTime = 0;        // in the track's timescale
    uint32_t size = 0;
    uint32_t duration = 0;         // as its run states it
    int32_t compositionOffset = 0; // presentation time minus decode time
    bool sync = false;
};

struct FragmentedMp4 {
    int64_t fileSize = 0;
    int64_t movieAt = 0;               // the moov's offset in the file
    std::vector<uint8_t> movie;        // the whole moov box
    uint32_t trackId = 0;
    uint32_t timescale = 0;            // of the video track
    std::vector<Mp4Sample> samples;    // in decode order, each wholly inside the file
    int64_t tornFragmentAt = -1;       // a moof cut short by the end of the file, to be cut off
    bool hasFragments = false;
};

// Reads `file`'s index from its boxes; the problem in words when there is none to read.
std::string readFragmentedMp4(RandomAccessFile& file, FragmentedMp4& movie);
