#include "audio/wav_track_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

constexpr uint32_t trackBlockAlign = trackChannels * 2;

// Creates (or truncates) the file, or with `update` opens an existing one; both read and write.
// The wide name keeps Windows paths that the ANSI code page cannot spell.
std::FILE* openFile(const std::filesystem::path& file, bool update) {
#ifdef _WIN32
    return _wfopen(file.c_str(), update ? L"r+b" : L"w+b");
#else
    return std::fopen(file.c_str(), update ? "r+b" : "w+b");
#endif
}

// Past 2 GB a `long` offset no longer reaches on Windows.
int seekFile(std::FILE* stream, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(stream, offset, whence);
#else
    return fseeko(stream, static_cast<off_t>(offset), whence);
#endif
}

int64_t tellFile(std::FILE* stream) {
#ifdef _WIN32
    return _ftelli64(stream);
#else
    return ftello(stream);
#endif
}

// A RIFF size counts up to 4 GB; past that it stays at the largest it can state.
uint32_t riffSize(uint64_t value) { return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }

void putLittleEndian32(uint8_t* out, uint64_t value) {
    const uint32_t clamped = riffSize(value);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(clamped >> (8 * i));
}

uint32_t getLittleEndian32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

// Writes the RIFF size (at 4) and the data chunk's size (just before `dataOffset`), then returns
// to the end of the file.
bool writeWavSizes(std::FILE* stream, int64_t dataOffset, uint64_t dataBytes) {
    uint8_t size[4];
    putLittleEndian32(size, static_cast<uint64_t>(dataOffset) - 8 + dataBytes);
    bool ok = seekFile(stream, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, stream) == 4;
    putLittleEndian32(size, dataBytes);
    ok = ok && seekFile(stream, dataOffset - 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, stream) == 4;
    ok = seekFile(stream, 0, SEEK_END) == 0 && ok;
    return std::fflush(stream) == 0 && ok;
}

}  // namespace

WavTrackFile::WavTrackFile() : encoderState(std::make_unique<ma_encoder>()) {}

WavTrackFile::~WavTrackFile() { close(); }

ma_result WavTrackFile::open(const std::filesystem::path& file) {
    close();
    fileName = file.filename().u8string();
    stream = openFile(file, false);
    if (stream == nullptr) return MA_ERROR;
    // The PCM waits in `pending` and reaches the file together with the header that counts it,
    // so the file on disk always agrees with its header; stdio's own buffer would let parts of it
    // through at block boundaries.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    pending.reserve(2 * wavRefreshBytes);
    const ma_encoder_config config =
        ma_encoder_config_init(ma_encoding_format_wav, trackSampleFormat, trackChannels, trackSampleRate);
    const ma_result result = ma_encoder_init(writeProc, seekProc, this, &config, encoderState.get());
    if (result != MA_SUCCESS) {
        std::fclose(stream);
        stream = nullptr;
        return result;
    }
    dataOffset = tellFile(stream);
    dataBytes = 0;
    sizeLimitPassed = false;
    pending.clear();
    writeError.clear();
    direct = false;
    opened = true;
    return MA_SUCCESS;
}

void WavTrackFile::close() {
    if (!opened) return;
    ma_encoder_uninit(encoderState.get());
    sizeLimitPassed = static_cast<uint64_t>(dataOffset) - 8 + dataBytes > 0xFFFFFFFFu;
    // The encoder's sizes count what it was given; after a failure the file holds less.
    if (!writeError.empty()) writeWavSizes(stream, dataOffset, dataBytes);
    std::fclose(stream);
    stream = nullptr;
    direct = true;
    opened = false;
}

ma_result WavTrackFile::writeProc(ma_encoder* encoder, const void* data, size_t bytes, size_t* written) {
    auto* self = static_cast<WavTrackFile*>(encoder->pUserData);
    if (written != nullptr) *written = bytes;
    // The header is written before the offset is known; only PCM waits.
    if (self->direct) return std::fwrite(data, 1, bytes, self->stream) == bytes ? MA_SUCCESS : MA_ERROR;
    // After a failed write the file stays as it was, valid up to the failure.
    if (!self->writeError.empty()) return MA_ERROR;
    const auto* bytesIn = static_cast<const char*>(data);
    self->pending.insert(self->pending.end(), bytesIn, bytesIn + bytes);
    if (self->pending.size() >= wavRefreshBytes) return self->writePending(true) ? MA_SUCCESS : MA_ERROR;
    return MA_SUCCESS;
}

bool WavTrackFile::writePending(bool withSizes) {
    if (!writeError.empty()) return false;
    errno = 0;
    // Whole samples only, so that a short write leaves the data a whole number of them.
    const size_t done = std::fwrite(pending.data(), 1, pending.size(), stream) / trackBlockAlign * trackBlockAlign;
    dataBytes += done;
    const bool complete = done == pending.size();
    pending.clear();
    const bool sized = !withSizes || writeWavSizes(stream, dataOffset, dataBytes);
    if (complete && sized) return true;
    writeError = errno != 0 ? std::strerror(errno) : "write failed";
    writeWavSizes(stream, dataOffset, dataBytes);
    return false;
}

ma_result WavTrackFile::seekProc(ma_encoder* encoder, ma_int64 offset, ma_seek_origin origin) {
    auto* self = static_cast<WavTrackFile*>(encoder->pUserData);
    // Only the encoder's closing seeks, to write the final sizes after the last PCM; what it
    // writes from now on goes straight to the file.
    if (!self->direct) {
        self->writePending(false);
        self->direct = true;
    }
    const int whence = origin == ma_seek_origin_start ? SEEK_SET : origin == ma_seek_origin_end ? SEEK_END : SEEK_CUR;
    return seekFile(self->stream, offset, whence) == 0 ? MA_SUCCESS : MA_ERROR;
}

WavMendResult mendWavFile(const std::filesystem::path& file) {
    WavMendResult result;
    std::error_code error;
    const uintmax_t fileSize = std::filesystem::file_size(file, error);
    if (error) {
        result.problem = error.message();
        return result;
    }
    std::FILE* stream = openFile(file, true);
    if (stream == nullptr) {
        result.problem = std::strerror(errno);
        return result;
    }
    // Walk the chunks after "RIFF" size "WAVE" to the data chunk.
    std::array<uint8_t, 12> riff{};
    int64_t dataOffset = -1;
    uint32_t statedData = 0;
    if (std::fread(riff.data(), 1, riff.size(), stream) == riff.size() && std::memcmp(riff.data(), "RIFF", 4) == 0 &&
        std::memcmp(riff.data() + 8, "WAVE", 4) == 0) {
        int64_t at = 12;
        uint8_t chunk[8];
        while (seekFile(stream, at, SEEK_SET) == 0 && std::fread(chunk, 1, 8, stream) == 8) {
            const uint32_t size = getLittleEndian32(chunk + 4);
            if (std::memcmp(chunk, "data", 4) == 0) {
                dataOffset = at + 8;
                statedData = size;
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    if (dataOffset < 0) {
        std::fclose(stream);
        result.problem = "no RIFF/WAVE data chunk";
        return result;
    }
    result.valid = true;
    const uint64_t held = (fileSize - static_cast<uint64_t>(dataOffset)) / trackBlockAlign * trackBlockAlign;
    const uint64_t statedRiff = getLittleEndian32(riff.data() + 4);
    // Past 4 GB the sizes agree when they state the most they can.
    const bool agrees = statedData == riffSize(held) && statedRiff == riffSize(static_cast<uint64_t>(dataOffset) - 8 + held) &&
                        fileSize == static_cast<uint64_t>(dataOffset) + held;
    bool ok = true;
    if (!agrees) {
        ok = writeWavSizes(stream, dataOffset, held);
        result.changed = true;
    }
    std::fclose(stream);
    if (!agrees && ok && fileSize != static_cast<uint64_t>(dataOffset) + held) {
        std::filesystem::resize_file(file, static_cast<uintmax_t>(dataOffset) + held, error);
        ok = !error;
    }
    if (!ok) {
        result.valid = false;
        result.problem = "the header could not be rewritten";
    }
    result.seconds = static_cast<double>(held) / (trackSampleRate * trackBlockAlign);
    result.pastSizeLimit = static_cast<uint64_t>(dataOffset) - 8 + held > 0xFFFFFFFFu;
    return result;
}
