#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/video_writer.h"

// Media subtypes as Media Foundation names them: GUIDs, most of them built from a FourCC, so a
// camera's formats read the same on every platform.
struct MediaGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    bool operator==(const MediaGuid& other) const;
    bool operator!=(const MediaGuid& other) const { return !(*this == other); }
};

// {XXXXXXXX-0000-0010-8000-00AA00389B71}, the GUID of a FourCC or a legacy format code.
constexpr MediaGuid fourCcGuid(uint32_t code) {
    return MediaGuid{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr uint32_t fourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

namespace mediaSubtype {
// MFVideoFormat_RGB24 (bytes B, G, R) and MFVideoFormat_RGB32 (B, G, R, X) use D3D format codes.
constexpr MediaGuid rgb24 = fourCcGuid(20);
constexpr MediaGuid rgb32 = fourCcGuid(22);
constexpr MediaGuid yuy2 = fourCcGuid(fourCc('Y', 'U', 'Y', '2'));
constexpr MediaGuid uyvy = fourCcGuid(fourCc('U', 'Y', 'V', 'Y'));
constexpr MediaGuid nv12 = fourCcGuid(fourCc('N', 'V', '1', '2'));
constexpr MediaGuid i420 = fourCcGuid(fourCc('I', '4', '2', '0'));
constexpr MediaGuid yv12 = fourCcGuid(fourCc('Y', 'V', '1', '2'));
constexpr MediaGuid mjpg = fourCcGuid(fourCc('M', 'J', 'P', 'G'));
// Bytes R, G, B: no Media Foundation name, so its FourCC as V4L2 spells it.
constexpr MediaGuid rawRgb24 = fourCcGuid(fourCc('R', 'G', 'B', '3'));
}  // namespace mediaSubtype

// "{%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX}": 38 characters.
std::string guidText(const MediaGuid& guid);

// The writer's input subtype for a camera subtype; none when the writer cannot take it.
std::optional<VideoSubtype> writerSubtypeFor(const MediaGuid& subtype);
