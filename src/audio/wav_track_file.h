#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "miniaudio.h"

// The format of both audio tracks: signed 16-bit PCM, one channel, 16000 frames per second.
constexpr ma_format trackSampleFormat = ma_format_s16;
constexpr ma_uint32 trackChannels = 1;
constexpr ma_uint32 trackSampleRate = 16000;

// How much PCM may reach the file before its RIFF and data sizes are brought up to date and the
// file is flushed: half a second, so a killed process leaves a WAV valid to its last second.
constexpr uint64_t wavRefreshBytes = trackSampleRate * trackChannels * 2 / 2;

// A WAV file being written by miniaudio's encoder in the track format. The header's sizes are
// kept current while it grows; closing it (or destroying the owner) completes the header, so even
// a track that never received a frame is a valid file.
class WavTrackFile {
public:
    WavTrackFile();
    ~WavTrackFile();
    WavTrackFile(const WavTrackFile&) = delete;
    WavTrackFile& operator=(const WavTrackFile&) = delete;

    // Creates (or truncates) the file.
    ma_result open(const std::filesystem::path& file);
    void close();

    bool isOpen() const { return opened; }
    // The file's name, for log lines.
    const std::string& name() const { return fileName; }
    // Why the file stopped growing (the system's reason), empty while every write succeeded.
    const std::string& failure() const { return writeError; }
    // After close(): the file holds more than the 4 GB a WAV header can count (about 37 hours of
    // the track format). Its sizes then state 4 GB; readers that trust them stop there.
    bool pastSizeLimit() const { return sizeLimitPassed; }
    // Stable for the owner's lifetime: the device keeps it as its user data.
    ma_encoder* encoder() { return encoderState.get(); }

private:
    static ma_result writeProc(ma_encoder* encoder, const void* data, size_t bytes, size_t* written);
    static ma_result seekProc(ma_encoder* encoder, ma_int64 offset, ma_seek_origin origin);
    // Appends the waiting PCM, then (with `withSizes`) brings the header's sizes up to date and
    // flushes; false when the file refused any of it.
    bool writePending(bool withSizes);

    std::unique_ptr<ma_encoder> encoderState;
    std::FILE* stream = nullptr;
    bool opened = false;
    int64_t dataOffset = -1;  // where the PCM starts, once the encoder has written the header
    bool direct = true;       // writes go straight to the file: the header, and the closing sizes
    uint64_t dataBytes = 0;  // in the file
    std::vector<char> pending;  // PCM not yet in the file
    std::string writeError;
    std::string fileName;
    bool sizeLimitPassed = false;
};

// What mending a WAV file found.
struct WavMendResult {
    bool valid = false;    // a RIFF/WAVE file with a data chunk
    bool changed = false;  // the header (or a torn last sample) was corrected
    double seconds = 0;    // the audio the file holds now
    bool pastSizeLimit = false;  // more than the 4 GB its header can count; the sizes state 4 GB
    std::string problem;   // why it is not valid
};

// Brings a WAV file's RIFF and data sizes in line with the PCM it holds (an interrupted
// recording's file), dropping a torn last sample. A file that already agrees is left untouched.
WavMendResult mendWavFile(const std::filesystem::path& file);
