#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// A file read and written at explicit offsets, with 64-bit sizes on every platform: what the MP4
// finisher needs to patch boxes in place without moving the media around them.
class RandomAccessFile {
public:
    enum class Mode { read, readWrite };
    // Opens an existing file; check `isOpen()`, and `error()` for why not.
    RandomAccessFile(const std::filesystem::path& file, Mode mode);
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    bool isOpen() const;
    // The system's words for the last failure.
    const std::string& error() const { return lastError; }

    // Size in bytes, or -1.
    int64_t size();
    // Reads up to `count` bytes at `offset`; the number read (short only at the end of the file), or -1.
    int64_t readAt(void* data, size_t count, int64_t offset);
    // Writes all `count` bytes at `offset`.
    bool writeAt(const void* data, size_t count, int64_t offset);
    // Cuts (or extends) the file to `length` bytes.
    bool resize(int64_t length);

private:
    void failed();

#ifdef _WIN32
    void* handle;
#else
    int fd;
#endif
    std::string lastError;
};
