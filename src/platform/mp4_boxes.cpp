#include "platform/mp4_boxes.h"

#include "platform/random_access_file.h"
#include "platform/video_file_finishing.h"

std::vector<Mp4Box> mp4Children(const uint8_t* data, size_t size, bool* torn) {
    std::vector<Mp4Box> boxes;
    if (torn != nullptr) *torn = false;
    size_t at = 0;
    while (size - at >= 8) {
        Mp4Box box;
        std::memcpy(box.type, data + at + 4, 4);
        uint64_t boxSize = readBigEndian(data + at, 4);
        size_t header = 8;
        if (boxSize == 1) {
            if (size - at < 16) break;
            boxSize = readBigEndian(data + at + 8, 8);
            header = 16;
        } else if (boxSize == 0) {
            boxSize = size - at;  // runs to the end of its parent
        }
        if (boxSize < header || boxSize > size - at) {
            if (torn != nullptr) *torn = true;
            break;
        }
        box.begin = data + at;
        box.payload = data + at + header;
        box.size = static_cast<size_t>(boxSize);
        box.payloadSize = box.size - header;
        boxes.push_back(box);
        at += box.size;
    }
    return boxes;
}

const Mp4Box* mp4Find(const std::vector<Mp4Box>& boxes, const char* type) {
    for (const Mp4Box& box : boxes) {
        if (box.is(type)) return &box;
    }
    return nullptr;
}

bool mp4HasTopLevelBox(const std::filesystem::path& file, const char* type) {
    RandomAccessFile in(file, RandomAccessFile::Mode::read);
    if (!in.isOpen()) return false;
    int64_t at = 0;
    uint8_t header[16] = {};
    while (in.readAt(header, 16, at) >= 8) {
        uint64_t size = readBigEndian(header, 4);
        if (std::memcmp(header + 4, type, 4) == 0) return true;
        if (size == 1) size = readBigEndian(header + 8, 8);  // a 64-bit size follows the type
        if (size < 8 || size > static_cast<uint64_t>(INT64_MAX - at)) return false;  // 0: the box runs to the end of the file
        at += static_cast<int64_t>(size);
    }
    return false;
}
