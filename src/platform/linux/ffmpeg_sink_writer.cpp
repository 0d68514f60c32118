#include "platform/linux/ffmpeg_sink_writer.h"

#include "platform/video_file_finishing.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "platform/linux/frame_converter.h"

#include <mutex>
#include <system_error>

namespace {

constexpr AVRational hundredNanoseconds{1, 10000000};

HResult fromAvError(int error) {
    if (error == AVERROR(ENOMEM)) return hresult::outOfMemory;
    if (error == AVERROR(EINVAL)) return hresult::invalidArgument;
    if (error == AVERROR(ENOENT)) return static_cast<HResult>(0x80070003u);  // path not found
    if (error == AVERROR(EACCES)) return static_cast<HResult>(0x80070005u);  // access denied
    return hresult::fail;
}

}  // namespace

void BitstreamFilterDeleter::operator()(AVBSFContext* context) const { av_bsf_free(&context); }
void CodecContextDeleter::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void FormatContextDeleter::operator()(AVFormatContext* context) const {
    if (context->pb != nullptr) avio_closep(&context->pb);
    avformat_free_context(context);
}
void FrameDeleter::operator()(AVFrame* value) const { av_frame_free(&value); }
void PacketDeleter::operator()(AVPacket* value) const { av_packet_free(&value); }

FfmpegSinkWriter::FfmpegSinkWriter(std::filesystem::path path, bool lowLatencyValue)
    : file(std::move(path)), lowLatency(lowLatencyValue) {
    // The encoder's banner and statistics would go to the host's standard error on every
    // recording; only errors are worth that. FFmpeg's log level is process-wide.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

FfmpegSinkWriter::~FfmpegSinkWriter() {
    // A writer dropped without finalize still completes what it has, or leaves no file.
    if (state == State::writing) finalize();
}

HResult FfmpegSinkWriter::addStream(const VideoMediaType& outputType, uint32_t& streamIndex) {
    if (state != State::configuring || haveStream) return hresult::invalidState;
    if (outputType.subtype != VideoSubtype::h264) return hresult::invalidArgument;
    if (outputType.width < 2 || outputType.height < 2 || outputType.width > 16384 || outputType.height > 16384 ||
        outputType.frameRateNumerator == 0 || outputType.frameRateDenominator == 0 || outputType.averageBitrate == 0) {
        return hresult::invalidArgument;
    }
    output = outputType;
    haveStream = true;
    streamIndex = 0;
    return hresult::ok;
}

HResult FfmpegSinkWriter::setInputMediaType(uint32_t streamIndex, const VideoMediaType& inputType) {
    if (state != State::configuring || !haveStream || streamIndex != 0) return hresult::invalidState;
    // The writer converts frames at the stream's size; it does not scale.
    if (inputType.subtype == VideoSubtype::h264 || inputType.width != output.width || inputType.height != output.height) {
        return hresult::invalidArgument;
    }
    input = inputType;
    haveInput = true;
    return hresult::ok;
}

HResult FfmpegSinkWriter::beginWriting() {
    if (state != State::configuring || !haveStream || !haveInput) return hresult::invalidState;
    const HResult opened = openEncoderAndFile();
    if (failed(opened)) {
        discardFile();
        return opened;
    }
    state = State::writing;
    encoder = std::thread(&FfmpegSinkWriter::encodeLoop, this);
    return hresult::ok;
}

HResult FfmpegSinkWriter::openEncoderAndFile() {
    encodedWidth = static_cast<int>(output.width & ~1u);
    encodedHeight = static_cast<int>(output.height & ~1u);

    HResult converterResult = FrameConverter::create(input, encodedWidth, encodedHeight, converter);
    if (failed(converterResult)) return converterResult;

    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (x264 == nullptr) return hresult::notImplemented;
    codec.reset(avcodec_alloc_context3(x264));
    AVFormatContext* formatContext = nullptr;
    if (avformat_alloc_output_context2(&formatContext, nullptr, "mp4", file.string().c_str()) < 0 || formatContext == nullptr) {
        return hresult::fail;
    }
    format.reset(formatContext);
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!codec || !frame || !packet) return hresult::outOfMemory;

    codec->width = encodedWidth;
    codec->height = encodedHeight;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = hundredNanoseconds;
    codec->framerate = AVRational{static_cast<int>(output.frameRateNumerator), static_cast<int>(output.frameRateDenominator)};
    codec->bit_rate = output.averageBitrate;
    codec->gop_size = static_cast<int>(std::min<uint64_t>(2ull * output.frameRateNumerator / output.frameRateDenominator + 1, 600));
    codec->max_b_frames = 0;  // keeps decode order = presentation order, so the first pts stays 0
    codec->sample_aspect_ratio = AVRational{static_cast<int>(output.pixelAspectNumerator), static_cast<int>(output.pixelAspectDenominator)};
    codec->color_range = AVCOL_RANGE_MPEG;
    codec->colorspace = AVCOL_SPC_SMPTE170M;  // the BT.601 matrix the conversion uses
    codec->thread_count = 0;
    av_opt_set(codec->priv_data, "preset", "ultrafast", 0);
    if (lowLatency) av_opt_set(codec->priv_data, "tune", "zerolatency", 0);
    if (output.profile == FF_PROFILE_H264_MAIN) {
        // ultrafast leaves CABAC off, which makes the stream Baseline whatever profile is asked for.
        av_opt_set(codec->priv_data, "profile", "main", 0);
        av_opt_set(codec->priv_data, "x264-params", "cabac=1", 0);
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int error = avcodec_open2(codec.get(), x264, nullptr);
    if (error < 0) return fromAvError(error);

    stream = avformat_new_stream(format.get(), nullptr);
    if (stream == nullptr) return hresult::outOfMemory;
    stream->time_base = hundredNanoseconds;
    stream->avg_frame_rate = codec->framerate;
    error = avcodec_parameters_from_context(stream->codecpar, codec.get());
    if (error < 0) return fromAvError(error);
    const HResult filtered = openRateFilter();
    if (failed(filtered)) return filtered;

    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = encodedWidth;
    frame->height = encodedHeight;
    error = av_frame_get_buffer(frame.get(), 0);
    if (error < 0) return fromAvError(error);

    error = avio_open(&format->pb, file.string().c_str(), AVIO_FLAG_WRITE);
    if (error < 0) return fromAvError(error);
    fileOpen = true;
    // Written in fragments of at most a second, each reaching the file when it closes, so a process
    // that dies loses only the last one; finalize makes the file ordinary.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    format->flush_packets = 1;
    error = avformat_write_header(format.get(), &options);
    av_dict_free(&options);
    if (error < 0) return fromAvError(error);
    return hresult::ok;
}

// x264 times a variable-rate stream in its time base, 100 ns, and players and converters then take
// 10,000,000 frames a second for the stream's rate. The stream's timing is restated at the nominal
// rate (two ticks a frame); the sample times in the file stay exact.
HResult FfmpegSinkWriter::openRateFilter() {
    const AVBitStreamFilter* metadata = av_bsf_get_by_name("h264_metadata");
    if (metadata == nullptr) return hresult::notImplemented;
    AVBSFContext* created = nullptr;
    int error = av_bsf_alloc(metadata, &created);
    if (error < 0) return fromAvError(error);
    rateFilter.reset(created);
    const AVRational tickRate{2 * static_cast<int>(output.frameRateNumerator), static_cast<int>(output.frameRateDenominator)};
    error = av_opt_set_q(rateFilter->priv_data, "tick_rate", tickRate, 0);
    if (error >= 0) error = avcodec_parameters_copy(rateFilter->par_in, stream->codecpar);
    if (error < 0) return fromAvError(error);
    rateFilter->time_base_in = codec->time_base;
    error = av_bsf_init(rateFilter.get());
    if (error >= 0) error = avcodec_parameters_copy(stream->codecpar, rateFilter->par_out);
    return error < 0 ? fromAvError(error) : hresult::ok;
}

HResult FfmpegSinkWriter::writeSample(uint32_t streamIndex, std::unique_ptr<VideoSample> sample) {
    if (state != State::writing || streamIndex != 0) return hresult::invalidState;
    auto* shared = dynamic_cast<SharedImageSample*>(sample.get());
    const size_t frameBytes = converter->minimumLength();
    if (shared == nullptr || !shared->image || shared->length < frameBytes || shared->image->size() < shared->length) {
        return hresult::invalidArgument;
    }
    sample.release();
    std::unique_ptr<SharedImageSample> owned(shared);

    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return queue.size() < queueCapacity || failed(encoderResult); });
    if (failed(encoderResult)) return encoderResult;
    queue.push_back(std::move(owned));
    ++samplesQueued;
    changed.notify_all();
    return hresult::ok;
}

void FfmpegSinkWriter::encodeLoop() {
    for (;;) {
        std::unique_ptr<SharedImageSample> sample;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return !queue.empty() || closing; });
            if (queue.empty()) return;
            sample = std::move(queue.front());
            queue.pop_front();
            changed.notify_all();
        }
        const HResult result = encode(sample.get());
        if (failed(result)) {
            std::lock_guard<std::mutex> lock(mutex);
            encoderResult = result;
            queue.clear();
            changed.notify_all();
            return;
        }
    }
}

HResult FfmpegSinkWriter::encode(const SharedImageSample* sample) {
    int error = 0;
    if (sample != nullptr) {
        error = av_frame_make_writable(frame.get());
        if (error < 0) return fromAvError(error);
        // The picture keeps the last conversion: a sample that says what changed converts only that.
        const HResult converted = sample->changed && pictureHeld
                                      ? converter->convertParts(sample->image->data(), sample->length, *sample->changed, *frame)
                                      : converter->convert(sample->image->data(), sample->length, *frame);
        if (failed(converted)) return converted;
        pictureHeld = true;
        // The file needs strictly increasing times.
        int64_t pts = sample->time;
        if (pts <= lastPts) pts = lastPts + 1;
        lastPts = pts;
        frame->pts = pts;
        // A sample without a duration (the first one) lasts one frame at the nominal rate.
        const int64_t nominal = 10000000ll * output.frameRateDenominator / output.frameRateNumerator;
        durations.emplace_back(pts, sample->duration > 0 ? sample->duration : nominal);
        error = avcodec_send_frame(codec.get(), frame.get());
    } else {
        error = avcodec_send_frame(codec.get(), nullptr);
    }
    if (error < 0) return fromAvError(error);
    return drainPackets();
}

HResult FfmpegSinkWriter::drainPackets() {
    for (;;) {
        int error = avcodec_receive_packet(codec.get(), packet.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return hresult::ok;
        if (error < 0) return fromAvError(error);
        // Without B-frames packets leave in the order frames went in.
        while (!durations.empty() && durations.front().first < packet->pts) durations.pop_front();
        if (!durations.empty() && durations.front().first == packet->pts) {
            packet->duration = durations.front().second;
            durations.pop_front();
        }
        const HResult written = writeFiltered(packet.get());
        if (failed(written)) return written;
    }
}

HResult FfmpegSinkWriter::writeFiltered(AVPacket* encoded) {
    int error = av_bsf_send_packet(rateFilter.get(), encoded);
    if (error < 0) return fromAvError(error);
    for (;;) {
        error = av_bsf_receive_packet(rateFilter.get(), packet.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return hresult::ok;
        if (error < 0) return fromAvError(error);
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        lastDuration = av_rescale_q(packet->duration, stream->time_base, hundredNanoseconds);
        const HResult written = fileWritten(av_interleaved_write_frame(format.get(), packet.get()));
        if (failed(written)) return written;
    }
}

// A failed write leaves the file as it was up to the last complete fragment; the first reason is
// kept for the recorder's line.
HResult FfmpegSinkWriter::fileWritten(int error) {
    if (error >= 0) return hresult::ok;
    int none = 0;
    writeError.compare_exchange_strong(none, error);
    return fromAvError(error);
}

std::string FfmpegSinkWriter::writeFailure() const {
    const int error = writeError.load();
    if (error == 0) return {};
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

std::string FfmpegSinkWriter::finishFailure() const { return finishProblem; }

HResult FfmpegSinkWriter::endStreamAt(uint32_t streamIndex, int64_t time) {
    if (state != State::writing || streamIndex != 0) return hresult::invalidState;
    endTime = time;
    return hresult::ok;
}

HResult FfmpegSinkWriter::finalize() {
    if (state != State::writing) return hresult::invalidState;
    state = State::finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
        changed.notify_all();
    }
    encoder.join();

    if (samplesQueued == 0) {
        discardFile();
        return hresult::noSamplesProcessed;
    }
    // Flush and close even after an encoder error, so that what reached the file stays playable.
    HResult result = encoderResult;
    HResult flushed = encode(nullptr);
    if (!failed(flushed)) flushed = writeFiltered(nullptr);
    if (!failed(result)) result = flushed;
    HResult closed = fileWritten(av_write_trailer(format.get()));
    if (!failed(closed)) closed = fileWritten(avio_closep(&format->pb));
    if (!failed(result)) result = closed;
    format.reset();
    codec.reset();
    rateFilter.reset();
    // The encoder thread has ended: lastPts is the last sample's time.
    if (endTime > lastPts && lastPts >= 0) lastDuration = endTime - lastPts;
    // Even after a failure the fragments written so far become an ordinary file when they can.
    // When they cannot (no room for the index on a full disk), the file stays as it is.
    const VideoFinishResult finished = finishVideoFile(file, lastDuration);
    if (finished.outcome == VideoFinishResult::Outcome::failed) {
        finishProblem = finished.problem;
        if (!failed(result)) result = hresult::fail;
    }
    return result;
}

void FfmpegSinkWriter::discardFile() {
    format.reset();
    codec.reset();
    if (fileOpen) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        fileOpen = false;
    }
}
