#include "platform/video_frame_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <mutex>

#include "platform/linux/ffmpeg_sink_writer.h"

namespace {

constexpr AVRational hundredNanoseconds{1, 10000000};

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct InputContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct ScaleContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

class FfmpegFrameReader : public VideoFrameReader {
public:
    bool open(const std::filesystem::path& file, std::string& error) {
        // A damaged file is reported through `error`; FFmpeg's own lines would only repeat it on
        // the host's standard error. FFmpeg's log level is process-wide.
        static std::once_flag quiet;
        std::call_once(quiet, [] {
            if (av_log_get_level() > AV_LOG_FATAL) av_log_set_level(AV_LOG_FATAL);
        });
        AVFormatContext* opened = nullptr;
        int result = avformat_open_input(&opened, file.string().c_str(), nullptr, nullptr);
        if (result < 0) {
            error = "cannot open: " + avErrorText(result);
            return false;
        }
        format.reset(opened);
        if ((result = avformat_find_stream_info(format.get(), nullptr)) < 0) {
            error = "no stream information: " + avErrorText(result);
            return false;
        }
        streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (streamIndex < 0) {
            error = "no video stream";
            return false;
        }
        const AVStream* stream = format->streams[streamIndex];
        const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
        if (decoder == nullptr) {
            error = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id);
            return false;
        }
        codec.reset(avcodec_alloc_context3(decoder));
        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        if (!codec || !frame || !packet || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0 ||
            avcodec_open2(codec.get(), decoder, nullptr) < 0) {
            error = "cannot open the decoder";
            return false;
        }
        fileFacts.codec = avcodec_get_name(stream->codecpar->codec_id);
        fileFacts.width = static_cast<uint32_t>(stream->codecpar->width);
        fileFacts.height = static_cast<uint32_t>(stream->codecpar->height);
        return countSamples(error);
    }

    const VideoFileFacts& facts() const override { return fileFacts; }

    bool frameAt(int64_t time, uint32_t width, VideoFrameImage& image, std::string& error) override {
        const AVStream* stream = format->streams[streamIndex];
        const int64_t target = av_rescale_q(time, hundredNanoseconds, stream->time_base) + firstPts;
        int result = av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD);
        if (result < 0) {
            error = "cannot seek: " + avErrorText(result);
            return false;
        }
        avcodec_flush_buffers(codec.get());
        // Frames before the target are kept by reference until a later one replaces them: at the
        // end of the file the last frame stays on show.
        std::unique_ptr<AVFrame, FrameDeleter> latest(av_frame_alloc());
        if (!latest) {
            error = "out of memory";
            return false;
        }
        bool haveFrame = false;
        bool draining = false;
        while (true) {
            result = avcodec_receive_frame(codec.get(), frame.get());
            if (result == 0) {
                av_frame_unref(latest.get());
                av_frame_move_ref(latest.get(), frame.get());
                haveFrame = true;
                if (latest->best_effort_timestamp >= target) break;
                continue;
            }
            if (result == AVERROR_EOF) break;
            if (result != AVERROR(EAGAIN)) {
                error = "cannot decode: " + avErrorText(result);
                return false;
            }
            if (draining) break;
            result = av_read_frame(format.get(), packet.get());
            if (result < 0) {
                draining = true;
                avcodec_send_packet(codec.get(), nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
        }
        if (!haveFrame) {
            error = "no frame decoded";
            return false;
        }
        return convert(*latest, image, width, stream->time_base, error);
    }

private:
    // Visits every sample: the count and the duration, and a damaged file shows itself here.
    bool countSamples(std::string& error) {
        const AVStream* stream = format->streams[streamIndex];
        int64_t first = AV_NOPTS_VALUE;
        int64_t end = 0;
        int result = 0;
        while ((result = av_read_frame(format.get(), packet.get())) >= 0) {
            if (packet->stream_index == streamIndex) {
                ++fileFacts.samples;
                if (packet->pts != AV_NOPTS_VALUE) {
                    if (first == AV_NOPTS_VALUE || packet->pts < first) first = packet->pts;
                    end = std::max(end, packet->pts + packet->duration);
                }
            }
            av_packet_unref(packet.get());
        }
        if (result != AVERROR_EOF) {
            error = "damaged after " + std::to_string(fileFacts.samples) + " samples: " + avErrorText(result);
            return false;
        }
        if (fileFacts.samples == 0) {
            error = "no video samples";
            return false;
        }
        firstPts = first == AV_NOPTS_VALUE ? 0 : first;
        fileFacts.duration = av_rescale_q(end - firstPts, stream->time_base, hundredNanoseconds);
        return true;
    }

    bool convert(const AVFrame& decoded, VideoFrameImage& image, uint32_t width, AVRational timeBase, std::string& error) {
        const AVFrame* frame = &decoded;
        if (frame->width <= 0 || frame->height <= 0) {
            error = "empty frame";
            return false;
        }
        const int outWidth = static_cast<int>(width == 0 ? static_cast<uint32_t>(frame->width) : width);
        const int outHeight = std::max(1, static_cast<int>(static_cast<int64_t>(frame->height) * outWidth / frame->width));
        scale.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), outWidth, outHeight,
                                   AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!scale) {
            error = "cannot convert the frame's pixel format";
            return false;
        }
        image.width = static_cast<uint32_t>(outWidth);
        image.height = static_cast<uint32_t>(outHeight);
        image.rgba.assign(static_cast<size_t>(outWidth) * outHeight * 4, 0);
        uint8_t* planes[1] = {image.rgba.data()};
        const int strides[1] = {outWidth * 4};
        sws_scale(scale.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        const int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE ? firstPts : frame->best_effort_timestamp;
        image.time = av_rescale_q(pts - firstPts, timeBase, hundredNanoseconds);
        return true;
    }

    std::unique_ptr<AVFormatContext, InputContextDeleter> format;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<SwsContext, ScaleContextDeleter> scale;
    int streamIndex = -1;
    int64_t firstPts = 0;
    VideoFileFacts fileFacts;
};

}  // namespace

std::unique_ptr<VideoFrameReader> openVideoFrameReader(const std::filesystem::path& file, std::string& error) {
    auto reader = std::make_unique<FfmpegFrameReader>();
    if (!reader->open(file, error)) return nullptr;
    return reader;
}
