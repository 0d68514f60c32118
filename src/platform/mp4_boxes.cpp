#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "platform/video_file_finishing.h"

bool mp4HasTopLevelBox(const std::filesystem::path& file, const char* type) {
    std::ifstream in(file, std::ios::binary);
    uint64_t at = 0;
    std::array<uint8_t, 16> header{};
    while (in.seekg(static_cast<std::streamoff>(at)) && in.read(reinterpret_cast<char*>(header.data()), 8)) {
        uint64_t size = 0;
        for (int i = 0; i < 4; ++i) size = size << 8 | header[static_cast<size_t>(i)];
        if (std::memcmp(header.data() + 4, type, 4) == 0) return true;
        if (size == 1) {  // a 64-bit size follows the type
            if (!in.read(reinterpret_cast<char*>(header.data() + 8), 8)) return false;
            size = 0;
            for (int i = 8; i < 16; ++i) size = size << 8 | header[static_cast<size_t>(i)];
        }
        if (size < 8) return false;  // 0: the box runs to the end of the file
        at += size;
    }
    return false;
}
