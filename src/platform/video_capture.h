#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/image_rect.h"
#include "platform/pointer_shape.h"
#include "platform/video_result.h"

// Desktop duplication: graphics adapters and their outputs, a device on one adapter, the
// duplication of one of that adapter's outputs, and the textures a desktop image is copied into
// for the CPU to read. Every operation reports an HResult.

struct AdapterDescription {
    std::string description;  // UTF-8
    uint64_t dedicatedVideoMemory = 0;
    uint64_t dedicatedSystemMemory = 0;
    uint64_t sharedSystemMemory = 0;
    uint64_t luid = 0;  // tells the same adapter apart when two enumerations hand it out
};

// Coordinates are virtual-desktop pixels (physical pixels, whatever the caller's DPI awareness).
struct OutputDescription {
    std::string deviceName;  // UTF-8
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool attachedToDesktop = false;
    bool primary = false;  // shows the primary display (the one at 0,0)
    double scale = 1.0;    // the display's scale factor (1.25 at 120 dpi)
};

// Pixel format codes follow DXGI_FORMAT; an ordinary desktop is B8G8R8A8.
constexpr uint32_t pixelFormatB8G8R8A8 = 87;

// width and height are the desktop's, as the user sees it; rotation (clockwise degrees: 0, 90,
// 180 or 270) says how the desktop image lies in the frames, which keep the display's unrotated
// orientation.
struct DuplicationMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;
    uint32_t rotation = 0;
};

class VideoAdapter {
public:
    virtual ~VideoAdapter() = default;
    virtual HResult describe(AdapterDescription& description) = 0;
    // Fails (hresult::notFound) after the last output.
    virtual HResult describeOutput(uint32_t index, OutputDescription& description) = 0;
};

class VideoFactory {
public:
    virtual ~VideoFactory() = default;
    // Adapters in the system's default order; hresult::notFound after the last.
    virtual HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) = 0;
    // Whether adapters can be listed in high-performance order.
    virtual bool supportsGpuPreference() = 0;
    virtual HResult enumAdapterByHighPerformance(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) = 0;
};

// A GPU image: the desktop image of one frame, a render target or a staging copy.
class VideoTexture {
public:
    virtual ~VideoTexture() = default;
    // The texture's own size and pixel format (format 0 when unknown, read as B8G8R8A8); false when
    // the platform cannot tell.
    virtual bool describe(DuplicationMode& description) {
        static_cast<void>(description);
        return false;
    }
};

// What one successful acquire hands out; it may or may not be a texture.
class DesktopResource {
public:
    virtual ~DesktopResource() = default;
    virtual std::unique_ptr<VideoTexture> queryTexture() = 0;
};

class DesktopDuplication {
public:
    virtual ~DesktopDuplication() = default;
    virtual DuplicationMode mode() = 0;
    // hresult::waitTimeout when the desktop has not changed since the last frame,
    // hresult::accessLost when the duplication must be re-created.
    virtual HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) = 0;
    virtual HResult releaseFrame() = 0;
    // The parts of the acquired frame's image that changed since the frame acquired before it, in
    // the frame's own (unrotated) pixels (none when only the pointer moved). False when the duplication cannot
    // tell: then any part may have changed. Asked before the frame is released.
    virtual bool changedRects(std::vector<ImageRect>& rects) {
        rects.clear();
        return false;
    }
    // The output this duplicates, as it is now; false when the platform cannot tell.
    virtual bool describeOutput(OutputDescription&) { return false; }
    // The pointer's new shape, when the acquired frame brought one; false, at no cost, when it
    // did not. Asked before the frame is released.
    virtual bool newPointerShape(PointerShape& shape) {
        static_cast<void>(shape);
        return false;
    }
};

// Which step of duplicating an output failed; each has its own log line.
enum class DuplicationStep { deviceQuery, adapterParent, enumOutputs, output1Query, duplicateOutput };

enum class TextureKind {
    gdiRenderTarget,  // GPU-only render target usable by GDI
    staging,          // readable and writable by the CPU
};

struct MappedImage {
    const uint8_t* data = nullptr;
    uint32_t rowPitch = 0;  // at least width * 4
};

class VideoDevice {
public:
    virtual ~VideoDevice() = default;
    // On failure failedStep names the step; the duplication stays empty.
    virtual HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) = 0;
    // The same for output `index` of the device's adapter.
    virtual HResult duplicateOutput(uint32_t index, std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) {
        if (index == 0) return duplicateOutput0(duplication, failedStep);
        duplication.reset();
        failedStep = DuplicationStep::enumOutputs;
        return hresult::notFound;
    }
    // May succeed and still leave texture empty. A staging texture takes mode's size and format as
    // they stand (a frame's own description).
    virtual HResult createTexture(TextureKind kind, const DuplicationMode& mode, std::unique_ptr<VideoTexture>& texture) = 0;
    // Why the device can no longer be used (a driver update, a GPU reset, sleep), or ok while it
    // can: a removed device must be made again before anything duplicates on it.
    virtual HResult removedReason() { return hresult::ok; }
};

// The device's immediate context.
class VideoContext {
public:
    virtual ~VideoContext() = default;
    virtual void copyResource(VideoTexture& destination, VideoTexture& source) = 0;
    // Copies one rectangle of the source into the same place of a destination that already holds
    // a whole image. A context that cannot copy parts copies everything.
    virtual void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& rect) {
        static_cast<void>(rect);
        copyResource(destination, source);
    }
    // Waits for the copy; rows top to bottom.
    virtual HResult map(VideoTexture& texture, MappedImage& image) = 0;
    virtual void unmap(VideoTexture& texture) = 0;
};

struct CaptureNote {
    bool partial = false;  // only part of what is on the screen is captured
    std::string text;
};

class VideoCapturePlatform {
public:
    virtual ~VideoCapturePlatform() = default;
    virtual HResult createFactory(std::unique_ptr<VideoFactory>& factory) = 0;
    // Video-support device on the given adapter, feature levels 11_1 down to 10_0.
    virtual HResult createDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device,
                                 std::unique_ptr<VideoContext>& context, uint32_t& featureLevel) = 0;
    // The same without the video-support flag, which nothing here uses and which basic display
    // adapters and virtual machines may refuse.
    virtual HResult createPlainDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device,
                                      std::unique_ptr<VideoContext>& context, uint32_t& featureLevel) {
        return createDevice(adapter, device, context, featureLevel);
    }
    // The system's text for a result, exactly as the system gives it.
    virtual std::string messageText(HResult result) = 0;
    // Why the last factory, device or duplication step failed, in the platform's own terms where
    // the step's line does not say it; empty where it does.
    virtual std::string failureReason() { return {}; }
    // Said once when the duplication is ready: how this screen is captured, where that is worth
    // knowing (a slower path, part of the screen only).
    virtual std::vector<CaptureNote> captureNotes() { return {}; }
};

// The platform's real implementation.
std::unique_ptr<VideoCapturePlatform> createVideoCapturePlatform();
