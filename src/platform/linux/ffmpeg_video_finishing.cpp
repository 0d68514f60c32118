#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/linux/ffmpeg_sink_writer.h"
#include "platform/video_file_finishing.h"

namespace {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// An output for FFmpeg's muxer that keeps only the bytes written at or past `keepFrom`: the
// packets go nowhere (they stay where they are in the file), the index the muxer writes after
// them is kept.
// FFmpeg 7 hands the written bytes over as const, FFmpeg 5 and 6 did not.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

struct IndexCapture {
    int64_t position = 0;
    int64_t end = 0;
    int64_t keepFrom = INT64_MAX;
    std::vector<uint8_t> kept;

    static int write(void* opaque, WrittenBytes data, int size) {
        auto& self = *static_cast<IndexCapture*>(opaque);
        const int64_t from = std::max(self.position, self.keepFrom);
        const int64_t to = self.position + size;
        if (to > from) {
            if (static_cast<int64_t>(self.kept.size()) < to - self.keepFrom) self.kept.resize(static_cast<size_t>(to - self.keepFrom));
            std::memcpy(self.kept.data() + (from - self.keepFrom), data + (from - self.position), static_cast<size_t>(to - from));
        }
        self.position = to;
        self.end = std::max(self.end, to);
        return size;
    }
    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto& self = *static_cast<IndexCapture*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return self.end;
        case SEEK_SET: self.position = offset; break;
        case SEEK_CUR: self.position += offset; break;
        case SEEK_END: self.position = self.end + offset; break;
        default: return AVERROR(EINVAL);
        }
        return self.position;
    }
};

struct CaptureOutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) {
            av_freep(&context->pb->buffer);
            avio_context_free(&context->pb);
        }
        avformat_free_context(context);
    }
};

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool writeAt(int fd, const void* data, size_t size, int64_t at) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, at);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
        at += written;
    }
    return true;
}

uint64_t bigEndian(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void putBigEndian(uint8_t* bytes, uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

// A write cut short (a full disk) can leave the last top-level box torn. A torn "mdat" still holds
// the samples before the cut, which FFmpeg reads; a torn "moof" makes FFmpeg refuse the whole
// file, so it goes: it describes a fragment whose data never reached the file.
std::string dropTornFragmentHeader(const std::filesystem::path& file) {
    Descriptor descriptor;
    descriptor.fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor.fd < 0) return std::string("cannot open it: ") + std::strerror(errno);
    struct stat status {};
    if (::fstat(descriptor.fd, &status) != 0) return std::string("cannot read it: ") + std::strerror(errno);
    const auto fileEnd = static_cast<uint64_t>(status.st_size);
    uint64_t at = 0;
    uint8_t header[16] = {};
    while (at + 8 <= fileEnd && ::pread(descriptor.fd, header, 16, static_cast<off_t>(at)) >= 8) {
        uint64_t size = bigEndian(header, 4);
        if (size == 1) size = at + 16 <= fileEnd ? bigEndian(header + 8, 8) : UINT64_MAX;
        if (size == 0) return {};  // runs to the end of the file
        if (size < 8 || size > fileEnd - at) {
            // Only a torn fragment header goes; anything else is left for the reader to judge.
            if (std::memcmp(header + 4, "moof", 4) != 0) return {};
            if (::ftruncate(descriptor.fd, static_cast<off_t>(at)) != 0) return std::string("cannot cut its torn end: ") + std::strerror(errno);
            return {};
        }
        at += size;
    }
    return {};
}

// The index of an ordinary MPEG-4 file for every readable packet of the first video stream of the
// fragmented `file`, at the offsets the packets have in it: FFmpeg's own muxer builds it, with the
// same time base, so sample times stay as they were. `seconds` is the video it indexes.
VideoFinishResult buildIndex(const std::filesystem::path& file, int64_t lastSampleDuration, std::vector<uint8_t>& index) {
    VideoFinishResult result;
    AVFormatContext* opened = nullptr;
    int error = avformat_open_input(&opened, file.c_str(), nullptr, nullptr);
    if (error < 0) {
        result.problem = "cannot read it: " + avErrorText(error);
        return result;
    }
    std::unique_ptr<AVFormatContext, InputDeleter> input(opened);
    // The sample description (stsd) holds all the stream's parameters the index needs; probing
    // them by decoding, as avformat_find_stream_info does, would only cost time.
    const int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0) {
        result.problem = "no video stream: " + avErrorText(videoIndex);
        return result;
    }
    const AVStream* source = input->streams[videoIndex];

    AVFormatContext* created = nullptr;
    if (avformat_alloc_output_context2(&created, nullptr, "mp4", nullptr) < 0 || created == nullptr) {
        result.problem = "cannot make the index";
        return result;
    }
    std::unique_ptr<AVFormatContext, CaptureOutputDeleter> output(created);
    AVStream* target = avformat_new_stream(output.get(), nullptr);
    if (target == nullptr || avcodec_parameters_copy(target->codecpar, source->codecpar) < 0) {
        result.problem = "cannot make the index's stream";
        return result;
    }
    target->codecpar->codec_tag = 0;
    target->time_base = source->time_base;
    target->avg_frame_rate = source->avg_frame_rate;
    constexpr int bufferSize = 1 << 16;
    IndexCapture capture;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    output->pb = buffer == nullptr ? nullptr
                                   : avio_alloc_context(buffer, bufferSize, 1, &capture, nullptr, &IndexCapture::write, &IndexCapture::seek);
    if (output->pb == nullptr) {
        av_free(buffer);
        result.problem = "out of memory";
        return result;
    }
    output->pb->seekable = AVIO_SEEKABLE_NORMAL;
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    error = avformat_write_header(output.get(), nullptr);
    if (error < 0) {
        result.problem = "cannot make the index: " + avErrorText(error);
        return result;
    }

    // One packet is held back, so that the last one can take the writer's duration. Each is
    // written where it already is in the file, so the index points at it there.
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> held(av_packet_alloc());
    if (!packet || !held) {
        result.problem = "out of memory";
        return result;
    }
    bool holding = false;
    int64_t end = 0;
    int64_t dataEnd = 0;
    const auto writeHeld = [&] {
        end = std::max(end, held->pts + held->duration);
        dataEnd = std::max(dataEnd, held->pos + held->size);
        const int64_t placed = avio_seek(output->pb, held->pos, SEEK_SET);
        error = placed < 0 ? static_cast<int>(placed) : av_write_frame(output.get(), held.get());
        holding = false;
    };
    // A torn last fragment ends the reading; everything before it is kept.
    while (error >= 0 && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->flags & AV_PKT_FLAG_CORRUPT) break;  // cut short by the end of the file
        if (packet->stream_index == videoIndex) {
            if (holding) writeHeld();
            if (packet->pos < 0) error = AVERROR_INVALIDDATA;
            av_packet_rescale_ts(packet.get(), source->time_base, target->time_base);
            packet->stream_index = 0;
            av_packet_move_ref(held.get(), packet.get());
            holding = true;
        }
        av_packet_unref(packet.get());
    }
    if (holding && error >= 0) {
        if (lastSampleDuration > 0) held->duration = av_rescale_q(lastSampleDuration, AVRational{1, 10000000}, target->time_base);
        writeHeld();
    }
    if (error >= 0 && end == 0) error = AVERROR_INVALIDDATA;  // no complete sample
    if (error >= 0) {
        avio_flush(output->pb);
        capture.keepFrom = avio_tell(output->pb);
        error = av_write_trailer(output.get());
    }
    if (error >= 0) avio_flush(output->pb);
    // The muxer writes the index right after the last packet; anything else is not an index.
    if (error >= 0 && (capture.keepFrom != dataEnd || capture.kept.size() < 8 || std::memcmp(capture.kept.data() + 4, "moov", 4) != 0 ||
                       bigEndian(capture.kept.data(), 4) != capture.kept.size())) {
        error = AVERROR_BUG;
    }
    if (error < 0) {
        result.problem = "cannot make the index: " + avErrorText(error);
        return result;
    }
    index = std::move(capture.kept);
    result.outcome = VideoFinishResult::Outcome::finished;
    result.seconds = static_cast<double>(end) * av_q2d(target->time_base);
    return result;
}

// Makes the fragmented file ordinary where it lies, in steps after each of which it still plays:
//  1. the index goes after everything, as a "free" box (the file is fragmented as before);
//  2. that box becomes "moov" (FFmpeg reads the first moov and the fragments, as before);
//  3. the fragmented file's own empty moov, right after ftyp, becomes the header of one "mdat" that
//     holds everything up to the new index: fragments and their data alike, which the index
//     points into. The file is then ftyp, mdat, moov.
// Finishing again after a death between 2 and 3 adds another index after this one. The steps are
// ordered for a process that dies; like the fragments themselves, they are not synced to the disk
// against a crash of the whole system.
std::string indexInPlace(const std::filesystem::path& file, std::vector<uint8_t> index) {
    Descriptor descriptor;
    descriptor.fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    const int fd = descriptor.fd;
    if (fd < 0) return std::string("cannot open it: ") + std::strerror(errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return std::string("cannot read it: ") + std::strerror(errno);
    const int64_t fileEnd = status.st_size;
    uint8_t head[16] = {};
    if (::pread(fd, head, 8, 0) != 8 || std::memcmp(head + 4, "ftyp", 4) != 0) return "it does not start with ftyp";
    const auto movieAt = static_cast<int64_t>(bigEndian(head, 4));
    if (::pread(fd, head, 8, movieAt) != 8 || std::memcmp(head + 4, "moov", 4) != 0 || bigEndian(head, 4) < 16) {
        return "no fragmented moov after ftyp";
    }

    std::memcpy(index.data() + 4, "free", 4);
    if (!writeAt(fd, index.data(), index.size(), fileEnd)) {
        const std::string reason = std::strerror(errno);
        static_cast<void>(::ftruncate(fd, fileEnd));
        return "cannot write the index: " + reason;
    }
    if (!writeAt(fd, "moov", 4, fileEnd + 4)) return std::string("cannot write the index: ") + std::strerror(errno);
    const uint64_t span = static_cast<uint64_t>(fileEnd - movieAt);
    size_t headerSize = 8;
    if (span <= UINT32_MAX) {
        putBigEndian(head, span, 4);
    } else {
        putBigEndian(head, 1, 4);
        putBigEndian(head + 8, span, 8);
        headerSize = 16;
    }
    std::memcpy(head + 4, "mdat", 4);
    if (!writeAt(fd, head, headerSize, movieAt)) return std::string("cannot write the media header: ") + std::strerror(errno);
    return {};
}

}  // namespace

VideoFinishResult finishVideoFile(const std::filesystem::path& file, int64_t lastSampleDuration) {
    // The demuxer reports long pauses between screen samples as discontinuities; they are the
    // samples' real times, and only errors are worth the host's standard error.
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    VideoFinishResult result;
    if (!mp4HasTopLevelBox(file, "moof")) {
        if (mp4HasTopLevelBox(file, "moov")) {
            result.outcome = VideoFinishResult::Outcome::alreadyOrdinary;
        } else {
            result.problem = "the file has no index and no complete fragment";
        }
        return result;
    }
    result.problem = dropTornFragmentHeader(file);
    if (!result.problem.empty()) return result;
    std::vector<uint8_t> index;
    result = buildIndex(file, lastSampleDuration, index);
    if (result.outcome != VideoFinishResult::Outcome::finished) return result;
    result.problem = indexInPlace(file, std::move(index));
    // On a failure the file stays as it was, fragmented: it plays, and a later recovery can try again.
    if (!result.problem.empty()) result.outcome = VideoFinishResult::Outcome::failed;
    return result;
}
