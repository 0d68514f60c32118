#pragma once
// Looking at the MP4 files the finishing tests write: a scratch folder, the top-level boxes, and
// the decoded frames.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/command_output.h"
#include "fragment_builder.h"
#include "platform/mp4_boxes.h"
#include "platform/random_access_file.h"

namespace mp4_files {

namespace fs = std::filesystem;

struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("desktracks-mp4-" + std::to_string(std::random_device{}()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// The top-level box types in order, "64" after those with a 64-bit size.
inline std::string topLevelBoxes(const fs::path& path) {
    RandomAccessFile in(path, RandomAccessFile::Mode::read);
    std::string types;
    uint8_t header[16] = {};
    for (int64_t at = 0; in.readAt(header, 16, at) >= 8;) {
        uint64_t size = readBigEndian(header, 4);
        if (size == 1) size = readBigEndian(header + 8, 8);
        types += std::string(reinterpret_cast<char*>(header + 4), 4) + (readBigEndian(header, 4) == 1 ? "64 " : " ");
        if (size < 8) break;
        at += static_cast<int64_t>(size);
    }
    return types;
}

// One line per decoded video frame with its times and a hash (FFmpeg's framemd5).
inline std::string decodedFrames(const fs::path& file) {
    return test_support::commandOutput("ffmpeg -v error -i '" + file.string() + "' -map 0:v:0 -f framemd5 - | grep -v '^#'");
}

// The built file on disk, its gap a hole.
inline bool writeBuilt(const fs::path& path, const fragment_builder::File& file) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file.head;
    if (file.tail.empty()) return true;
    RandomAccessFile out(path, RandomAccessFile::Mode::readWrite);
    return out.writeAt(file.tail.data(), file.tail.size(), static_cast<int64_t>(file.head.size() + file.gap));
}

}  // namespace mp4_files
