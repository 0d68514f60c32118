#include "platform/linux/frame_converter.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}
#include <libyuv/convert.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

void SwsContextDeleter::operator()(SwsContext* context) const { sws_freeContext(context); }

FrameConverter::FrameConverter(const VideoMediaType& input, int encodedWidthValue, int encodedHeightValue)
    : subtype(input.subtype),
      width(static_cast<int>(input.width)),
      height(static_cast<int>(input.height)),
      encodedWidth(encodedWidthValue),
      encodedHeight(encodedHeightValue) {}

HResult FrameConverter::create(const VideoMediaType& input, int encodedWidth, int encodedHeight,
                               std::unique_ptr<FrameConverter>& converter) {
    converter.reset();
    if (input.subtype == VideoSubtype::h264 || input.width == 0 || input.height == 0) return hresult::invalidArgument;
    std::unique_ptr<FrameConverter> created(new FrameConverter(input, encodedWidth, encodedHeight));
    const size_t pixels = static_cast<size_t>(input.width) * input.height;
    const size_t chroma = static_cast<size_t>((input.width + 1) / 2) * ((input.height + 1) / 2);
    switch (input.subtype) {
        case VideoSubtype::rgb32: created->minimum = pixels * 4; break;
        case VideoSubtype::yuy2:
        case VideoSubtype::uyvy: created->minimum = static_cast<size_t>((input.width + 1) / 2) * 4 * input.height; break;
        case VideoSubtype::nv12:
        case VideoSubtype::i420:
        case VideoSubtype::yv12: created->minimum = pixels + 2 * chroma; break;
        case VideoSubtype::rgb24:
        case VideoSubtype::rawRgb24: created->minimum = pixels * 3; break;
        case VideoSubtype::mjpg: {
            created->minimum = 1;
            const AVCodec* mjpeg = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
            if (mjpeg == nullptr) return hresult::notImplemented;
            created->decoder.reset(avcodec_alloc_context3(mjpeg));
            created->packet.reset(av_packet_alloc());
            created->decoded.reset(av_frame_alloc());
            if (!created->decoder || !created->packet || !created->decoded) return hresult::outOfMemory;
            created->decoder->thread_count = 1;
            if (avcodec_open2(created->decoder.get(), mjpeg, nullptr) < 0) return hresult::fail;
            break;
        }
        case VideoSubtype::h264: return hresult::invalidArgument;
    }
    converter = std::move(created);
    return hresult::ok;
}

HResult FrameConverter::convert(const uint8_t* data, size_t length, AVFrame& picture) {
    if (length < minimum) return hresult::invalidArgument;
    uint8_t* y = picture.data[0];
    uint8_t* u = picture.data[1];
    uint8_t* v = picture.data[2];
    const int ys = picture.linesize[0], us = picture.linesize[1], vs = picture.linesize[2];
    const int w = encodedWidth, h = encodedHeight;
    const int halfWidth = (width + 1) / 2;
    const uint8_t* chroma = data + static_cast<size_t>(width) * height;
    const uint8_t* secondChroma = chroma + static_cast<size_t>(halfWidth) * ((height + 1) / 2);
    int result = 0;
    switch (subtype) {
        case VideoSubtype::rgb32: {
            // Bottom-up rows: start at the row that holds the top of the encoded picture and let
            // the negative height walk upwards; an odd bottom row is skipped.
            const uint8_t* top = data + static_cast<size_t>(height - h) * width * 4;
            result = libyuv::ARGBToI420(top, width * 4, y, ys, u, us, v, vs, w, -h);
            break;
        }
        case VideoSubtype::yuy2: result = libyuv::YUY2ToI420(data, halfWidth * 4, y, ys, u, us, v, vs, w, h); break;
        case VideoSubtype::uyvy: result = libyuv::UYVYToI420(data, halfWidth * 4, y, ys, u, us, v, vs, w, h); break;
        case VideoSubtype::nv12:
            result = libyuv::NV12ToI420(data, width, chroma, halfWidth * 2, y, ys, u, us, v, vs, w, h);
            break;
        case VideoSubtype::i420:
            result = libyuv::I420Copy(data, width, chroma, halfWidth, secondChroma, halfWidth, y, ys, u, us, v, vs, w, h);
            break;
        case VideoSubtype::yv12:
            result = libyuv::I420Copy(data, width, secondChroma, halfWidth, chroma, halfWidth, y, ys, u, us, v, vs, w, h);
            break;
        case VideoSubtype::rgb24: result = libyuv::RGB24ToI420(data, width * 3, y, ys, u, us, v, vs, w, h); break;
        case VideoSubtype::rawRgb24: result = libyuv::RAWToI420(data, width * 3, y, ys, u, us, v, vs, w, h); break;
        case VideoSubtype::mjpg: return decodeJpeg(data, length, picture);
        case VideoSubtype::h264: return hresult::invalidArgument;
    }
    return result == 0 ? hresult::ok : hresult::fail;
}

HResult FrameConverter::convertParts(const uint8_t* data, size_t length, const std::vector<ImageRect>& parts, AVFrame& picture) {
    if (subtype != VideoSubtype::rgb32) return convert(data, length, picture);
    if (length < minimum) return hresult::invalidArgument;
    for (const ImageRect& part : parts) {
        // 4:2:0 shares each chroma sample among 2x2 pixels: whole pairs of rows and columns only.
        const int left = std::max(part.left, 0) & ~1;
        const int top = std::max(part.top, 0) & ~1;
        const int right = std::min((part.right + 1) & ~1, encodedWidth);
        const int bottom = std::min((part.bottom + 1) & ~1, encodedHeight);
        if (right <= left || bottom <= top) continue;
        // Bottom-up rows: the part's lowest row comes first in memory.
        const uint8_t* lowest = data + (static_cast<size_t>(height - bottom) * width + left) * 4;
        const int result = libyuv::ARGBToI420(
            lowest, width * 4, picture.data[0] + static_cast<size_t>(top) * picture.linesize[0] + left, picture.linesize[0],
            picture.data[1] + static_cast<size_t>(top / 2) * picture.linesize[1] + left / 2, picture.linesize[1],
            picture.data[2] + static_cast<size_t>(top / 2) * picture.linesize[2] + left / 2, picture.linesize[2], right - left,
            -(bottom - top));
        if (result != 0) return hresult::fail;
    }
    return hresult::ok;
}

HResult FrameConverter::decodeJpeg(const uint8_t* data, size_t length, AVFrame& picture) {
    // The decoder reads a little past the end of its input: give it a padded copy.
    if (av_new_packet(packet.get(), static_cast<int>(length)) < 0) return hresult::outOfMemory;
    std::copy(data, data + length, packet->data);
    const int sent = avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0 || avcodec_receive_frame(decoder.get(), decoded.get()) < 0) return hresult::ok;  // a broken frame

    // A frame of another size than the camera announced is not this stream's: skip it too.
    if (decoded->width != width || decoded->height != height) {
        av_frame_unref(decoded.get());
        return hresult::ok;
    }
    const auto format = static_cast<AVPixelFormat>(decoded->format);
    scaler.reset(sws_getCachedContext(scaler.release(), encodedWidth, encodedHeight, format, encodedWidth, encodedHeight,
                                      AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler) {
        av_frame_unref(decoded.get());
        return hresult::fail;
    }
    // JPEG's samples use the full range; the video is limited range like every other input.
    const bool fullRange = decoded->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                           format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler.get(), bt601, fullRange ? 1 : 0, bt601, 0, 0, 1 << 16, 1 << 16);
    sws_scale(scaler.get(), decoded->data, decoded->linesize, 0, encodedHeight, picture.data, picture.linesize);
    av_frame_unref(decoded.get());
    return hresult::ok;
}
