#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/linux/shared_image_sample.h"
#include "platform/video_writer.h"

struct AVBSFContext;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
class FrameConverter;

struct BitstreamFilterDeleter {
    void operator()(AVBSFContext* context) const;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
};
struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const;
};

// Sink writer on FFmpeg's libraries: samples of any input subtype become YUV 4:2:0
// (frame_converter.h), libx264 encodes
// them into an MP4 file whose stream time base is 100 ns, so sample times reach the file exactly.
// The H.264 stream states the nominal rate as its own, which is the rate tools see, and each
// packet lasts its sample's duration (the last one's included).
// Encoding runs on a thread of its own behind a short queue; writeSample blocks only while that
// queue is full. Odd sizes are encoded at the largest even size inside them (the last column and
// row are dropped), which 4:2:0 requires.
class FfmpegSinkWriter : public SinkWriter {
public:
    explicit FfmpegSinkWriter(std::filesystem::path file, bool lowLatency = false);
    ~FfmpegSinkWriter() override;

    HResult addStream(const VideoMediaType& outputType, uint32_t& streamIndex) override;
    HResult setInputMediaType(uint32_t streamIndex, const VideoMediaType& inputType) override;
    HResult beginWriting() override;
    HResult writeSample(uint32_t streamIndex, std::unique_ptr<VideoSample> sample) override;
    HResult endStreamAt(uint32_t streamIndex, int64_t time) override;
    HResult finalize() override;
    std::string writeFailure() const override;
    std::string finishFailure() const override;

private:
    enum class State { configuring, writing, finished };

    HResult openEncoderAndFile();
    void encodeLoop();
    HResult openRateFilter();
    HResult encode(const SharedImageSample* sample);
    HResult drainPackets();
    HResult writeFiltered(AVPacket* encoded);
    HResult fileWritten(int error);
    void discardFile();

    const std::filesystem::path file;
    const bool lowLatency;
    State state = State::configuring;
    bool haveStream = false;
    bool haveInput = false;
    VideoMediaType output;
    VideoMediaType input;
    std::unique_ptr<FrameConverter> converter;
    int encodedWidth = 0;
    int encodedHeight = 0;

    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVFormatContext, FormatContextDeleter> format;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    bool pictureHeld = false;  // frame holds the last sample's picture
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<AVBSFContext, BitstreamFilterDeleter> rateFilter;
    AVStream* stream = nullptr;
    bool fileOpen = false;
    int64_t lastPts = -1;
    int64_t lastDuration = 0;  // of the last packet in the file, 100 ns
    int64_t endTime = -1;      // where the stream ends when told, 100 ns
    std::deque<std::pair<int64_t, int64_t>> durations;  // pts and duration of frames in the encoder
    uint64_t samplesQueued = 0;
    std::atomic<int> writeError{0};  // the first failed write to the file, an FFmpeg error code
    std::string finishProblem;

    // Between the caller and the encoder thread.
    static constexpr size_t queueCapacity = 2;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<SharedImageSample>> queue;
    bool closing = false;
    HResult encoderResult = hresult::ok;
    std::thread encoder;
};
