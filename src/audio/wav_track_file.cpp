#include "audio/wav_track_file.h"

namespace {

// The wide variant keeps Windows paths that the ANSI code page cannot spell; elsewhere the path's
// bytes are the file name.
[[maybe_unused]] ma_result initEncoderFile(const char* file, const ma_encoder_config* config, ma_encoder* encoder) {
    return ma_encoder_init_file(file, config, encoder);
}

[[maybe_unused]] ma_result initEncoderFile(const wchar_t* file, const ma_encoder_config* config, ma_encoder* encoder) {
    return ma_encoder_init_file_w(file, config, encoder);
}

}  // namespace

WavTrackFile::WavTrackFile() : encoderState(std::make_unique<ma_encoder>()) {}

WavTrackFile::~WavTrackFile() { close(); }

ma_result WavTrackFile::open(const std::filesystem::path& file) {
    close();
    const ma_encoder_config config =
        ma_encoder_config_init(ma_encoding_format_wav, trackSampleFormat, trackChannels, trackSampleRate);
    const ma_result result = initEncoderFile(file.c_str(), &config, encoderState.get());
    opened = result == MA_SUCCESS;
    return result;
}

void WavTrackFile::close() {
    if (!opened) return;
    ma_encoder_uninit(encoderState.get());
    opened = false;
}
