#include <algorithm>
#include <system_error>

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

// Copies every readable packet of the first video stream of `from` into an ordinary MPEG-4 file
// `to`, with the same time base, so sample times stay as they were. Returns the seconds copied.
VideoFinishResult copyToOrdinary(const std::filesystem::path& from, const std::filesystem::path& to, int64_t lastSampleDuration) {
    VideoFinishResult result;
    AVFormatContext* opened = nullptr;
    int error = avformat_open_input(&opened, from.c_str(), nullptr, nullptr);
    if (error < 0) {
        result.problem = "cannot read it: " + avErrorText(error);
        return result;
    }
    std::unique_ptr<AVFormatContext, InputDeleter> input(opened);
    error = avformat_find_stream_info(input.get(), nullptr);
    const int videoIndex = error < 0 ? error : av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0) {
        result.problem = "no video stream: " + avErrorText(videoIndex);
        return result;
    }
    const AVStream* source = input->streams[videoIndex];

    AVFormatContext* created = nullptr;
    if (avformat_alloc_output_context2(&created, nullptr, "mp4", to.c_str()) < 0 || created == nullptr) {
        result.problem = "cannot make the output";
        return result;
    }
    std::unique_ptr<AVFormatContext, FormatContextDeleter> output(created);
    AVStream* target = avformat_new_stream(output.get(), nullptr);
    if (target == nullptr || avcodec_parameters_copy(target->codecpar, source->codecpar) < 0) {
        result.problem = "cannot make the output stream";
        return result;
    }
    target->codecpar->codec_tag = 0;
    target->time_base = source->time_base;
    target->avg_frame_rate = source->avg_frame_rate;
    error = avio_open(&output->pb, to.c_str(), AVIO_FLAG_WRITE);
    if (error >= 0) error = avformat_write_header(output.get(), nullptr);
    if (error < 0) {
        result.problem = "cannot write " + to.filename().string() + ": " + avErrorText(error);
        return result;
    }

    // One packet is held back, so that the last one can take the writer's duration.
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> held(av_packet_alloc());
    if (!packet || !held) {
        result.problem = "out of memory";
        return result;
    }
    bool holding = false;
    int64_t end = 0;
    const auto writeHeld = [&] {
        end = std::max(end, held->pts + held->duration);
        error = av_write_frame(output.get(), held.get());
        holding = false;
    };
    // A torn last fragment ends the reading; everything before it is kept.
    while (error >= 0 && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->flags & AV_PKT_FLAG_CORRUPT) break;  // cut short by the end of the file
        if (packet->stream_index == videoIndex) {
            if (holding) writeHeld();
            av_packet_rescale_ts(packet.get(), source->time_base, target->time_base);
            packet->stream_index = 0;
            packet->pos = -1;
            av_packet_move_ref(held.get(), packet.get());
            holding = true;
        }
        av_packet_unref(packet.get());
    }
    if (holding && error >= 0) {
        if (lastSampleDuration > 0) held->duration = av_rescale_q(lastSampleDuration, AVRational{1, 10000000}, target->time_base);
        writeHeld();
    }
    if (error >= 0) error = av_write_trailer(output.get());
    if (error >= 0) error = avio_closep(&output->pb);
    if (error < 0) {
        result.problem = "cannot write " + to.filename().string() + ": " + avErrorText(error);
        return result;
    }
    result.outcome = VideoFinishResult::Outcome::finished;
    result.seconds = static_cast<double>(end) * av_q2d(target->time_base);
    return result;
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
    std::filesystem::path finishing = file;
    finishing += ".finishing";
    result = copyToOrdinary(file, finishing, lastSampleDuration);
    std::error_code error;
    if (result.outcome == VideoFinishResult::Outcome::finished) {
        std::filesystem::rename(finishing, file, error);
        if (!error) return result;
        result.outcome = VideoFinishResult::Outcome::failed;
        result.problem = "cannot replace it: " + error.message();
    }
    // The fragmented file stays: it plays, and a later recovery can try again.
    std::filesystem::remove(finishing, error);
    return result;
}
