#include "platform/png_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace

// FFmpeg's PNG encoder takes straight RGBA as it is.
bool writePngFile(const std::filesystem::path& path, int32_t width, int32_t height, const uint8_t* rgba,
                  std::string& reason) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        reason = "FFmpeg has no PNG encoder";
        return false;
    }
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        reason = "out of memory";
        return false;
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGBA;
    context->time_base = {1, 1};
    int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
        reason = "cannot open the PNG encoder: " + avErrorText(result);
        return false;
    }
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = width;
    frame->height = height;
    if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
        reason = avErrorText(result);
        return false;
    }
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], rgba + static_cast<size_t>(y) * width * 4,
                    static_cast<size_t>(width) * 4);
    }
    if ((result = avcodec_send_frame(context.get(), frame.get())) < 0 ||
        (result = avcodec_receive_packet(context.get(), packet.get())) < 0) {
        reason = "cannot encode: " + avErrorText(result);
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "wb"));
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    if (std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file.get()) != static_cast<size_t>(packet->size) ||
        std::fflush(file.get()) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}
