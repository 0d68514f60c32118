#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Reading back a recorded video file: its facts, and single frames as RGBA images for previews.

struct VideoFileFacts {
    std::string codec;           // "h264", ...
    uint32_t width = 0;
    uint32_t height = 0;
    int64_t duration = 0;        // 100 ns, first sample to the end of the last
    uint64_t samples = 0;        // samples in the file
};

struct VideoFrameImage {
    int64_t time = 0;            // 100 ns from the start of the file
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;   // width * height * 4 bytes, top row first
};

class VideoFrameReader {
public:
    virtual ~VideoFrameReader() = default;
    virtual const VideoFileFacts& facts() const = 0;
    // The frame on show at `time` (100 ns from the start), scaled to `width` pixels wide with its
    // aspect kept. False with `error` set when the file cannot be decoded there.
    virtual bool frameAt(int64_t time, uint32_t width, VideoFrameImage& image, std::string& error) = 0;
};

// Opens the file and reads its facts (every sample is visited, so a damaged file is found
// here). Null with `error` set when it is missing, not a video or damaged.
std::unique_ptr<VideoFrameReader> openVideoFrameReader(const std::filesystem::path& file, std::string& error);
