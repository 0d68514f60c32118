#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/image_rect.h"
#include "platform/video_result.h"

// Encoding to an MPEG-4 file through a sink writer: one H.264 stream fed with uncompressed (or
// MJPG) samples that carry their time and duration in 100-nanosecond units.

struct SinkWriterAttributes {
    bool enableHardwareTransforms = false;
    bool mpeg4Container = false;
    bool lowLatency = false;  // no frame delay in the encoder
    // Written in fragments while recording, so a killed process loses only the last one, and made
    // an ordinary file by finalize; key frames at most keyFrameSpacing frames apart (0: the
    // encoder's choice) bound the fragments. Writers that always fragment ignore it.
    bool fragmented = false;
    uint32_t keyFrameSpacing = 0;
};

// Input samples hold whole frames without gaps between rows. rgb32 (bytes B, G, R, X) has its rows
// bottom-up, as the screen delivers them; every other layout is top-down, as cameras deliver it:
// YUY2/UYVY packed 4:2:2, NV12 (Y plane, interleaved UV), I420 (Y, U, V planes), YV12 (Y, V, U),
// rgb24 (B, G, R), rawRgb24 (R, G, B), and MJPG (one JPEG image, any length).
enum class VideoSubtype { h264, rgb32, yuy2, uyvy, nv12, i420, yv12, rgb24, rawRgb24, mjpg };

struct VideoMediaType {
    VideoSubtype subtype = VideoSubtype::rgb32;
    uint32_t averageBitrate = 0;  // bits per second; output types only
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameRateNumerator = 0;
    uint32_t frameRateDenominator = 1;
    uint32_t pixelAspectNumerator = 1;
    uint32_t pixelAspectDenominator = 1;
    bool progressive = false;  // output types only
    uint32_t profile = 0;      // H.264 profile_idc (77 Main); 0 leaves it to the encoder; output types only
};

// An image handed to the writer. Its bytes must not change while any sample holds them: a new
// image goes into a new buffer.
using SampleImage = std::shared_ptr<const std::vector<uint8_t>>;

class VideoSample {
public:
    virtual ~VideoSample() = default;
    virtual HResult setSampleTime(int64_t time) = 0;
    virtual HResult setSampleDuration(int64_t duration) = 0;
    // Where the image differs from the previous sample's, in pixels of the video (top row first);
    // an empty list for the same picture. A writer may convert only these parts; a sample never
    // told may differ anywhere.
    virtual void setChangedRects(std::vector<ImageRect> rects) { static_cast<void>(rects); }
};

class SinkWriter {
public:
    virtual ~SinkWriter() = default;
    virtual HResult addStream(const VideoMediaType& outputType, uint32_t& streamIndex) = 0;
    virtual HResult setInputMediaType(uint32_t streamIndex, const VideoMediaType& inputType) = 0;
    virtual HResult beginWriting() = 0;
    // Queues the sample for encoding; blocks while the encoder is behind.
    virtual HResult writeSample(uint32_t streamIndex, std::unique_ptr<VideoSample> sample) = 0;
    // The stream ends at `time` (100 ns, on the samples' clock): its last sample lasts until then
    // instead of its own duration. Called before finalize; hresult::notImplemented where the
    // writer cannot, and then the last sample keeps its own duration.
    virtual HResult endStreamAt(uint32_t streamIndex, int64_t time) {
        static_cast<void>(streamIndex);
        static_cast<void>(time);
        return hresult::notImplemented;
    }
    // Completes the file. With no sample written it fails (hresult::noSamplesProcessed) and
    // leaves no file behind.
    virtual HResult finalize() = 0;
    // Why the file could not be written to the end, in the system's words ("No space left on
    // device"), once a write failed; empty otherwise. The file holds the video up to the failure.
    virtual std::string writeFailure() const { return {}; }
    // Why finalize left the file as it was written while recording (fragmented) instead of an
    // ordinary MP4; empty otherwise. The file still plays, and recovery can finish it later.
    virtual std::string finishFailure() const { return {}; }
};

// What a recorder logs about `name`, the file its writer writes. At a refused sample: the write
// failure ("output.mp4 could not be written to the end (No space left on device); it holds the
// video up to the failure"), empty when that is not the cause.
std::string videoWriteFailureLine(const SinkWriter& writer, const std::string& name);
// After finalize: one error line for the file (its write failure unless `writeFailureSaid`, else a
// finishing failure) and a warning for a finishing failure after a write failure; each may be empty.
struct VideoFileLines {
    std::string error;
    std::string warning;
};
VideoFileLines videoFileLines(const SinkWriter& writer, const std::string& name, bool writeFailureSaid);

// What every media thread (screen, webcam) sets up first: the libraries, the calling thread's COM
// apartment and Media Foundation.
class MediaRuntime {
public:
    virtual ~MediaRuntime() = default;
    // Whether the libraries behind this platform can be loaded (Windows N editions lack Media
    // Foundation); `reason` says why not. Asked before any other call.
    virtual bool librariesAvailable(std::string& reason) {
        static_cast<void>(reason);
        return true;
    }
    // Pairs of calls on one thread. A thread whose apartment was already initialised counts as
    // success.
    virtual HResult initializeThread() = 0;
    virtual void uninitializeThread() = 0;
    virtual HResult startup() = 0;
    virtual HResult shutdown() = 0;
};

class MediaPlatform : public MediaRuntime {
public:
    virtual HResult createSinkWriter(const std::filesystem::path& file, const SinkWriterAttributes& attributes,
                                     std::unique_ptr<SinkWriter>& writer) = 0;
    // A sample of `length` bytes taken from the image; bytes beyond the image are black. The
    // platform may keep a reference to the image instead of copying it.
    virtual HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) = 0;
};

// The platform's real implementation.
std::unique_ptr<MediaPlatform> createMediaPlatform();
