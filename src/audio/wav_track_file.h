#pragma once

#include <filesystem>
#include <memory>

#include "miniaudio.h"

// The format of both audio tracks: signed 16-bit PCM, one channel, 16000 frames per second.
constexpr ma_format trackSampleFormat = ma_format_s16;
constexpr ma_uint32 trackChannels = 1;
constexpr ma_uint32 trackSampleRate = 16000;

// A WAV file being written by miniaudio's encoder in the track format. Closing it (or destroying
// the owner) completes the header, so even a track that never received a frame is a valid file.
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
    // Stable for the owner's lifetime: the device keeps it as its user data.
    ma_encoder* encoder() { return encoderState.get(); }

private:
    std::unique_ptr<ma_encoder> encoderState;
    bool opened = false;
};
