#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/media_subtype.h"
#include "platform/video_result.h"
#include "platform/video_writer.h"

// Video capture devices: listing them, opening one, its native media types and a reader that
// hands out its frames as samples the platform's sink writer takes. Every operation reports an
// HResult.

namespace hresult {
// After the last native media type.
constexpr HResult noMoreTypes = static_cast<HResult>(0xC00D36B9u);
// A camera that is gone (unplugged, driver unbound).
constexpr HResult videoDeviceRemoved = static_cast<HResult>(0xC00D3EA2u);
// Another application holds the camera: Media Foundation's first read after the set-up fails with
// MF_E_HW_MFT_FAILED_START_STREAMING; ERROR_BUSY (V4L2's EBUSY) elsewhere.
constexpr HResult cameraStreamingFailed = static_cast<HResult>(0xC00D3704u);
constexpr HResult deviceBusy = static_cast<HResult>(0x800700AAu);
// hresult::accessDenied (video_result.h): the privacy setting (or the device's permissions) keep
// the camera from this app.
// Success, but the frames now come in another type than before (the camera changed its format).
constexpr HResult formatChanged = static_cast<HResult>(0x000D0020u);
}  // namespace hresult

// Why a camera cannot be recorded, as far as its error says.
enum class CameraTrouble { none, busy, accessDenied, gone };
CameraTrouble cameraTroubleOf(HResult result);

// One native media type of a camera. Each value may be missing (a failing result).
class CameraMediaType {
public:
    virtual ~CameraMediaType() = default;
    virtual HResult subtype(MediaGuid& value) = 0;
    virtual HResult frameSize(uint32_t& width, uint32_t& height) = 0;
    // Frames per second as numerator / denominator.
    virtual HResult frameRate(uint32_t& numerator, uint32_t& denominator) = 0;
};

// The camera's media source, once activated.
class CameraSource {
public:
    virtual ~CameraSource() = default;
};

class CameraReader {
public:
    virtual ~CameraReader() = default;
    // Stream 0's native types in the device's order; hresult::noMoreTypes after the last.
    virtual HResult nativeMediaType(uint32_t index, std::unique_ptr<CameraMediaType>& type) = 0;
    // Sets the camera to one of its native types; the reader then delivers it, or, for a type the
    // writer cannot take as it is (compressed), the platform's decoding of it.
    virtual HResult setCurrentMediaType(CameraMediaType& type) = 0;
    // The type of the frames readSample hands out, after setCurrentMediaType.
    virtual HResult deliveredMediaType(std::unique_ptr<CameraMediaType>& type) = 0;
    // Waits at most timeoutMillis for the next frame. Succeeds with no sample when none came in
    // that time (or the reader delivered a stream event instead); fails when the camera is gone.
    // hresult::formatChanged (with or without a sample): the delivered type changed.
    virtual HResult readSample(uint32_t timeoutMillis, std::unique_ptr<VideoSample>& sample) = 0;
    // After hresult::formatChanged: delivers the earlier type again (converting to it).
    virtual HResult restoreDeliveredType() = 0;
};

// An entry of the device list (an activation object until it is activated).
class CameraDevice {
public:
    virtual ~CameraDevice() = default;
    virtual HResult friendlyName(std::string& name) = 0;  // UTF-8
    virtual HResult activate(std::unique_ptr<CameraSource>& source) = 0;
};

// Which step of listing the cameras failed; each has its own log line.
enum class CameraListStep { createAttributes, setSourceType, enumerate };

// Which step of opening webcam.mp4 for a camera's native type failed; each has its own log line.
enum class WebcamWriterStep {
    createAttributes,
    enableHardwareTransforms,
    enableLowLatency,
    createSinkWriter,
    registerColourConverter,
    createOutputType,
    copyNativeType,
    setH264Subtype,
    setBitrate,
    setInterlaceMode,
    setProfile,
    addStream,
    setInputType,
    beginWriting,
};

// What the camera writer encodes: H.264 Main profile at this rate, the camera's size and rate.
constexpr uint32_t webcamBitRate = 12000000;
constexpr uint32_t h264MainProfile = 77;

class CameraPlatform : public MediaRuntime {
public:
    // Video capture devices in the platform's stable order. On failure failedStep names the step.
    virtual HResult listDevices(std::vector<std::unique_ptr<CameraDevice>>& devices, CameraListStep& failedStep) = 0;
    // A reader on the source's first video stream, the only one selected.
    virtual HResult createReader(CameraSource& source, std::unique_ptr<CameraReader>& reader) = 0;
    // Whether a native type can be recorded (as it is or decoded by the reader).
    virtual bool canRecord(CameraMediaType& type) = 0;
    // A failure as the platform names it, for the log: "HRESULT 0x80070005", "errno 16, Device
    // or resource busy".
    virtual std::string errorText(HResult result) = 0;
    // A writer of `file` that encodes samples of the reader's delivered type (deliveredType) to
    // H.264 Main at webcamBitRate, low latency, hardware transforms allowed, at the type's own size,
    // rate and pixel aspect; it has begun writing. On failure failedStep names the step and no file
    // is left.
    virtual HResult createWriter(const std::filesystem::path& file, CameraMediaType& deliveredType,
                                 std::unique_ptr<SinkWriter>& writer, uint32_t& streamIndex,
                                 WebcamWriterStep& failedStep) = 0;
};

// The platform's real implementation.
std::unique_ptr<CameraPlatform> createCameraPlatform();
