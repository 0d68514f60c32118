#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media_subtype.h"
#include "recording_settings.h"

// One native type of a camera as the format choice sees it.
struct NativeTypeFacts {
    MediaGuid subtype;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rateNumerator = 0;
    uint32_t rateDenominator = 0;
    bool recordable = false;  // the track can encode it (after the platform's decoding)

    double fps() const { return rateDenominator != 0 ? static_cast<double>(rateNumerator) / rateDenominator : 0; }
    bool compressed() const;
};

// The position in `types` of the type `format` chooses; types.size() when there is none the track
// can record.
//
// - first: the first type, or, when the track cannot record it, the first one it can.
// - best: among the recordable types of at most 1920x1080 at 24 fps or more, the largest frame;
//   at equal size the higher rate, then uncompressed before compressed, then the earlier type.
//   Without such a type: the highest rate up to 1920x1080, then the largest frame; without any
//   type up to 1920x1080: as first.
// - nearest: the recordable type whose width and height are nearest to the ones asked for (the
//   sum of their differences), then whose rate is nearest, then uncompressed, then earlier.
size_t chooseNativeType(const std::vector<NativeTypeFacts>& types, const WebcamFormat& format);

// How the choice is written in the log: "first", "best", "1280x720 at 30 fps".
std::string webcamFormatText(const WebcamFormat& format);

// A subtype's short name for the log ("YUY2", "MJPG", "RGB24"), its GUID when it has none.
std::string subtypeName(const MediaGuid& subtype);
