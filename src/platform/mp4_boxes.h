#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Reading and writing ISO base media (MPEG-4) boxes held in memory.

inline uint64_t readBigEndian(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

inline void putBigEndian(uint8_t* bytes, uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

// One box inside a buffer: where its payload starts and how long it is.
struct Mp4Box {
    char type[5] = {};
    const uint8_t* begin = nullptr;    // the box's first byte (its size field)
    const uint8_t* payload = nullptr;  // after the size and type
    size_t size = 0;                   // the whole box
    size_t payloadSize = 0;

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// The boxes laid one after another in `size` bytes; a box that claims more than is left ends the
// list (it is returned in `torn` when given).
std::vector<Mp4Box> mp4Children(const uint8_t* data, size_t size, bool* torn = nullptr);
inline std::vector<Mp4Box> mp4Children(const Mp4Box& parent, size_t skip = 0) {
    return parent.payloadSize < skip ? std::vector<Mp4Box>{} : mp4Children(parent.payload + skip, parent.payloadSize - skip);
}
// The first child of `type`, or null.
const Mp4Box* mp4Find(const std::vector<Mp4Box>& boxes, const char* type);

// Reads big-endian fields from a box payload without running past its end.
class Mp4FieldReader {
public:
    Mp4FieldReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    explicit Mp4FieldReader(const Mp4Box& box) : data(box.payload), size(box.payloadSize) {}

    uint64_t read(int count) {
        if (!ok || size - at < static_cast<size_t>(count)) {
            ok = false;
            return 0;
        }
        const uint64_t value = readBigEndian(data + at, count);
        at += static_cast<size_t>(count);
        return value;
    }
    uint32_t u32() { return static_cast<uint32_t>(read(4)); }
    void skip(size_t count) {
        if (!ok || size - at < count) ok = false;
        else at += count;
    }
    size_t position() const { return at; }
    size_t left() const { return ok ? size - at : 0; }
    // False once a read ran past the end.
    bool good() const { return ok; }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool ok = true;
};

// Builds boxes: open() writes a header whose size close() fills in.
class Mp4BoxWriter {
public:
    void open(const char* type) {
        open_.push_back(bytes.size());
        u32(0);
        raw(type, 4);
    }
    void openFull(const char* type, uint8_t version, uint32_t flags) {
        open(type);
        u32(static_cast<uint32_t>(version) << 24 | (flags & 0xFFFFFF));
    }
    void close() {
        const size_t start = open_.back();
        open_.pop_back();
        putBigEndian(bytes.data() + start, bytes.size() - start, 4);
    }
    void u8(uint8_t value) { bytes.push_back(value); }
    void u16(uint16_t value) { number(value, 2); }
    void u32(uint32_t value) { number(value, 4); }
    void u64(uint64_t value) { number(value, 8); }
    void number(uint64_t value, int count) {
        const size_t at = bytes.size();
        bytes.resize(at + static_cast<size_t>(count));
        putBigEndian(bytes.data() + at, value, count);
    }
    void raw(const void* data, size_t size) {
        const auto* from = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), from, from + size);
    }
    void copy(const Mp4Box& box) { raw(box.begin, box.size); }

    std::vector<uint8_t> bytes;

private:
    std::vector<size_t> open_;
};
