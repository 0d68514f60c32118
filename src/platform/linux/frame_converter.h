#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/ffmpeg_sink_writer.h"
#include "platform/video_writer.h"

struct SwsContext;

struct SwsContextDeleter {
    void operator()(SwsContext* context) const;
};

// Turns one input frame of the writer (any VideoSubtype but h264) into the encoder's 4:2:0
// picture: the top-left part of the frame at the encoded (even) size, BT.601 limited range.
class FrameConverter {
public:
    // invalidArgument for a subtype or size it cannot convert.
    static HResult create(const VideoMediaType& input, int encodedWidth, int encodedHeight,
                          std::unique_ptr<FrameConverter>& converter);

    // The fewest bytes a sample of this type holds.
    size_t minimumLength() const { return minimum; }

    // Writes into `picture` (YUV420P at the encoded size). An MJPG frame that does not decode
    // leaves the picture as it was, so the video repeats the frame before it.
    HResult convert(const uint8_t* data, size_t length, AVFrame& picture);
    // Converts only the given parts of the frame (input pixels, top row first, widened to even
    // edges) into a picture that holds the conversion of the frame before. Screen (rgb32) frames
    // only; any other subtype converts the whole frame.
    HResult convertParts(const uint8_t* data, size_t length, const std::vector<ImageRect>& parts, AVFrame& picture);

private:
    FrameConverter(const VideoMediaType& input, int encodedWidth, int encodedHeight);
    HResult decodeJpeg(const uint8_t* data, size_t length, AVFrame& picture);

    VideoSubtype subtype;
    int width;
    int height;
    int encodedWidth;
    int encodedHeight;
    size_t minimum = 0;

    // MJPG only.
    std::unique_ptr<AVCodecContext, CodecContextDeleter> decoder;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<AVFrame, FrameDeleter> decoded;
    std::unique_ptr<SwsContext, SwsContextDeleter> scaler;
};
