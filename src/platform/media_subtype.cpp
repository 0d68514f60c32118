#include "platform/media_subtype.h"

#include <cstdio>
#include <cstring>

bool MediaGuid::operator==(const MediaGuid& other) const {
    return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 &&
           std::memcmp(data4, other.data4, sizeof data4) == 0;
}

std::string guidText(const MediaGuid& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::optional<VideoSubtype> writerSubtypeFor(const MediaGuid& subtype) {
    struct Entry {
        const MediaGuid& guid;
        VideoSubtype writer;
    };
    const Entry entries[] = {
        {mediaSubtype::yuy2, VideoSubtype::yuy2},         {mediaSubtype::uyvy, VideoSubtype::uyvy},
        {mediaSubtype::nv12, VideoSubtype::nv12},         {mediaSubtype::i420, VideoSubtype::i420},
        {mediaSubtype::yv12, VideoSubtype::yv12},         {mediaSubtype::rgb24, VideoSubtype::rgb24},
        {mediaSubtype::rawRgb24, VideoSubtype::rawRgb24}, {mediaSubtype::mjpg, VideoSubtype::mjpg},
    };
    for (const Entry& entry : entries) {
        if (entry.guid == subtype) return entry.writer;
    }
    return std::nullopt;
}
