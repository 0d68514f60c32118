#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/camera.h"
#include "platform/linux/ffmpeg_sink_writer.h"
#include "platform/linux/shared_image_sample.h"

// Cameras through V4L2: /dev/video* nodes that capture video, mmap streaming.
namespace {

// Other errno values travel in a failure code of their own, so that the log can name them.
constexpr uint32_t errnoCode = 0xA0000000u;
constexpr HResult fileNotFound = static_cast<HResult>(0x80070002u);

HResult fromErrno(int error) {
    switch (error) {
        case ENODEV:
        case ENXIO:
        case EIO: return hresult::videoDeviceRemoved;
        case ENOENT: return fileNotFound;  // the node is gone
        case ENOMEM: return hresult::outOfMemory;
        case EINVAL: return hresult::invalidArgument;
        case EACCES:
        case EPERM: return hresult::accessDenied;
        case EBUSY: return hresult::deviceBusy;  // another process streams from it
        default: return error > 0 && error < 0x10000 ? static_cast<HResult>(errnoCode | static_cast<uint32_t>(error)) : hresult::fail;
    }
}

// The errno a result stands for; 0 when it is not one.
int errnoOf(HResult result) {
    const uint32_t code = static_cast<uint32_t>(result);
    if ((code & 0xFFFF0000u) == errnoCode) return static_cast<int>(code & 0xFFFFu);
    if (result == hresult::videoDeviceRemoved) return ENODEV;
    if (result == fileNotFound) return ENOENT;
    if (result == hresult::outOfMemory) return ENOMEM;
    if (result == hresult::invalidArgument) return EINVAL;
    if (result == hresult::accessDenied) return EACCES;
    if (result == hresult::deviceBusy) return EBUSY;
    return 0;
}

int xioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    const int fd;
};
using SharedFd = std::shared_ptr<FileDescriptor>;

SharedFd openNode(const std::filesystem::path& node, int& error) {
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    return fd < 0 ? nullptr : std::make_shared<FileDescriptor>(fd);
}

// Whether the node captures video (metadata, output and codec nodes do not), and its name.
bool isCamera(int fd, std::string& name) {
    v4l2_capability caps{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &caps) != 0) return false;
    const uint32_t device = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    if (!(device & V4L2_CAP_VIDEO_CAPTURE) || !(device & V4L2_CAP_STREAMING)) return false;
    name.assign(reinterpret_cast<const char*>(caps.card), strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
    return true;
}

// The Media Foundation subtype of a V4L2 pixel format; formats without one keep their FourCC.
MediaGuid subtypeOf(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUYV: return mediaSubtype::yuy2;
        case V4L2_PIX_FMT_UYVY: return mediaSubtype::uyvy;
        case V4L2_PIX_FMT_NV12: return mediaSubtype::nv12;
        case V4L2_PIX_FMT_YUV420: return mediaSubtype::i420;
        case V4L2_PIX_FMT_YVU420: return mediaSubtype::yv12;
        case V4L2_PIX_FMT_BGR24: return mediaSubtype::rgb24;  // bytes B, G, R
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG: return mediaSubtype::mjpg;
        default: return fourCcGuid(pixelFormat);
    }
}

struct NativeType {
    uint32_t pixelFormat = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    v4l2_fract interval{0, 0};  // seconds per frame; 0/0 when the driver does not say

    bool operator==(const NativeType& o) const {
        return pixelFormat == o.pixelFormat && width == o.width && height == o.height &&
               interval.numerator == o.interval.numerator && interval.denominator == o.interval.denominator;
    }
};

class V4l2MediaType : public CameraMediaType {
public:
    explicit V4l2MediaType(NativeType type) : type(type) {}
    HResult subtype(MediaGuid& value) override {
        value = subtypeOf(type.pixelFormat);
        return hresult::ok;
    }
    HResult frameSize(uint32_t& width, uint32_t& height) override {
        width = type.width;
        height = type.height;
        return width && height ? hresult::ok : hresult::invalidState;
    }
    HResult frameRate(uint32_t& numerator, uint32_t& denominator) override {
        numerator = type.interval.denominator;
        denominator = type.interval.numerator;
        return numerator && denominator ? hresult::ok : hresult::invalidState;
    }
    const NativeType type;
};

// The device's types: its current format first (what the device was last set to, by this
// recorder, v4l2-ctl or the camera's defaults), then every format x size x interval in the
// driver's order. Stepwise and continuous ranges contribute their largest size and fastest rate.
std::vector<NativeType> listNativeTypes(int fd) {
    std::vector<NativeType> types;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_G_FMT, &format) == 0) {
        NativeType current{format.fmt.pix.pixelformat, format.fmt.pix.width, format.fmt.pix.height, {0, 0}};
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd, VIDIOC_G_PARM, &parm) == 0 && (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
            current.interval = parm.parm.capture.timeperframe;
        }
        types.push_back(current);
    }
    auto add = [&types](const NativeType& type) {
        if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    };
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = description.pixelformat;
        for (size.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            NativeType type{description.pixelformat, 0, 0, {0, 0}};
            const bool discrete = size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
            type.width = discrete ? size.discrete.width : size.stepwise.max_width;
            type.height = discrete ? size.discrete.height : size.stepwise.max_height;
            v4l2_frmivalenum interval{};
            interval.pixel_format = description.pixelformat;
            interval.width = type.width;
            interval.height = type.height;
            bool anyInterval = false;
            for (interval.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
                const bool discreteInterval = interval.type == V4L2_FRMIVAL_TYPE_DISCRETE;
                type.interval = discreteInterval ? interval.discrete : interval.stepwise.min;
                add(type);
                anyInterval = true;
                if (!discreteInterval) break;
            }
            if (!anyInterval) add(type);
            if (!discrete) break;
        }
    }
    // A driver that does not report its current rate: the first rate it lists for that format
    // and size, which is then not listed twice.
    if (!types.empty() && types[0].interval.numerator == 0) {
        for (auto it = types.begin() + 1; it != types.end(); ++it) {
            if (it->pixelFormat == types[0].pixelFormat && it->width == types[0].width && it->height == types[0].height &&
                it->interval.numerator != 0) {
                types[0].interval = it->interval;
                types.erase(it);
                break;
            }
        }
    }
    return types;
}

class V4l2Source : public CameraSource {
public:
    explicit V4l2Source(SharedFd fd) : fd(std::move(fd)) {}
    const SharedFd fd;
};

class V4l2Reader : public CameraReader {
public:
    explicit V4l2Reader(SharedFd fd) : fd(std::move(fd)) {}

    ~V4l2Reader() override {
        if (streaming) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd->fd, VIDIOC_STREAMOFF, &type);
        }
        for (const Mapping& mapping : mappings) munmap(mapping.start, mapping.length);
        if (!mappings.empty()) {
            v4l2_requestbuffers release{};
            release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            release.memory = V4L2_MEMORY_MMAP;
            xioctl(fd->fd, VIDIOC_REQBUFS, &release);
        }
    }

    HResult nativeMediaType(uint32_t index, std::unique_ptr<CameraMediaType>& type) override {
        type.reset();
        if (!listed) {
            types = listNativeTypes(fd->fd);
            listed = true;
        }
        if (index >= types.size()) return hresult::noMoreTypes;
        type = std::make_unique<V4l2MediaType>(types[index]);
        return hresult::ok;
    }

    HResult deliveredMediaType(std::unique_ptr<CameraMediaType>& type) override {
        // FFmpeg's writer takes every type it records as the camera delivers it (MJPG included).
        type.reset();
        if (current.pixelFormat == 0) return hresult::invalidState;
        type = std::make_unique<V4l2MediaType>(current);
        return hresult::ok;
    }

    HResult restoreDeliveredType() override { return hresult::ok; }

    HResult setCurrentMediaType(CameraMediaType& type) override {
        auto* native = dynamic_cast<V4l2MediaType*>(&type);
        if (native == nullptr || streaming || !mappings.empty()) return hresult::invalidArgument;
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.pixelformat = native->type.pixelFormat;
        format.fmt.pix.width = native->type.width;
        format.fmt.pix.height = native->type.height;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        if (xioctl(fd->fd, VIDIOC_S_FMT, &format) != 0) return fromErrno(errno);
        // The driver answers with what it will deliver; anything else is not the type asked for.
        if (format.fmt.pix.pixelformat != native->type.pixelFormat || format.fmt.pix.width != native->type.width ||
            format.fmt.pix.height != native->type.height) {
            return hresult::invalidArgument;
        }
        if (native->type.interval.numerator != 0 && native->type.interval.denominator != 0) {
            v4l2_streamparm parm{};
            parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            parm.parm.capture.timeperframe = native->type.interval;
            xioctl(fd->fd, VIDIOC_S_PARM, &parm);  // a driver without rate control keeps its own
        }
        current = native->type;
        bytesPerLine = format.fmt.pix.bytesperline;
        return hresult::ok;
    }

    HResult readSample(uint32_t timeoutMillis, std::unique_ptr<VideoSample>& sample) override {
        sample.reset();
        if (!streaming) {
            const HResult started = startStreaming();
            if (failed(started)) return started;
        }
        pollfd waiting{fd->fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(timeoutMillis));
        if (ready < 0) return errno == EINTR ? hresult::ok : fromErrno(errno);
        if (ready == 0) return hresult::ok;
        if (waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) return hresult::videoDeviceRemoved;

        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd->fd, VIDIOC_DQBUF, &buffer) != 0) return errno == EAGAIN ? hresult::ok : fromErrno(errno);
        HResult result = hresult::ok;
        if (!(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.index < mappings.size()) {
            const Mapping& mapping = mappings[buffer.index];
            result = copyFrame(static_cast<const uint8_t*>(mapping.start), std::min<size_t>(buffer.bytesused, mapping.length), sample);
        }
        if (xioctl(fd->fd, VIDIOC_QBUF, &buffer) != 0 && !failed(result)) result = fromErrno(errno);
        return result;
    }

private:
    struct Mapping {
        void* start;
        size_t length;
    };
    static constexpr uint32_t bufferCount = 4;

    HResult startStreaming() {
        if (current.pixelFormat == 0) return hresult::invalidState;
        v4l2_requestbuffers request{};
        request.count = bufferCount;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd->fd, VIDIOC_REQBUFS, &request) != 0) return fromErrno(errno);
        if (request.count == 0) return hresult::outOfMemory;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (xioctl(fd->fd, VIDIOC_QUERYBUF, &buffer) != 0) return fromErrno(errno);
            void* start = mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd->fd, buffer.m.offset);
            if (start == MAP_FAILED) return fromErrno(errno);
            mappings.push_back({start, buffer.length});
            if (xioctl(fd->fd, VIDIOC_QBUF, &buffer) != 0) return fromErrno(errno);
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd->fd, VIDIOC_STREAMON, &type) != 0) return fromErrno(errno);
        streaming = true;
        return hresult::ok;
    }

    // The frame without the driver's row padding, as the writer takes it.
    HResult copyFrame(const uint8_t* data, size_t length, std::unique_ptr<VideoSample>& sample) const {
        struct Plane {
            size_t rowBytes;
            size_t rows;
            size_t stride;
        };
        const size_t w = current.width, h = current.height, bpl = bytesPerLine;
        const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
        Plane planes[3] = {{length, 1, length}, {0, 0, 0}, {0, 0, 0}};  // compressed, or refused by the writer anyway
        switch (current.pixelFormat) {
            case V4L2_PIX_FMT_YUYV:
            case V4L2_PIX_FMT_UYVY: planes[0] = {halfW * 4, h, std::max(bpl, halfW * 4)}; break;
            case V4L2_PIX_FMT_BGR24:
            case V4L2_PIX_FMT_RGB24: planes[0] = {w * 3, h, std::max(bpl, w * 3)}; break;
            case V4L2_PIX_FMT_NV12:
                planes[0] = {w, h, std::max(bpl, w)};
                planes[1] = {halfW * 2, halfH, std::max(bpl, halfW * 2)};
                break;
            case V4L2_PIX_FMT_YUV420:
            case V4L2_PIX_FMT_YVU420: {
                const size_t stride = std::max(bpl, w);
                planes[0] = {w, h, stride};
                planes[1] = planes[2] = {halfW, halfH, stride / 2};
                break;
            }
            default: break;
        }
        size_t needed = 0;
        size_t packed = 0;
        for (const Plane& plane : planes) {
            if (plane.rows == 0) continue;
            needed += plane.stride * (plane.rows - 1) + plane.rowBytes;
            packed += plane.rowBytes * plane.rows;
        }
        // A short frame (the driver's own error) is dropped rather than padded.
        if (length < needed || packed == 0) return hresult::ok;
        auto image = std::make_shared<std::vector<uint8_t>>(packed);
        uint8_t* to = image->data();
        const uint8_t* from = data;
        for (const Plane& plane : planes) {
            for (size_t row = 0; row < plane.rows; ++row) {
                std::memcpy(to, from + row * plane.stride, plane.rowBytes);
                to += plane.rowBytes;
            }
            from += plane.stride * plane.rows;
        }
        sample = std::make_unique<SharedImageSample>(std::move(image), static_cast<uint32_t>(packed));
        return hresult::ok;
    }

    const SharedFd fd;
    bool listed = false;
    std::vector<NativeType> types;
    NativeType current;
    size_t bytesPerLine = 0;
    std::vector<Mapping> mappings;
    bool streaming = false;
};

class V4l2Device : public CameraDevice {
public:
    V4l2Device(std::filesystem::path node, std::string name) : node(std::move(node)), name(std::move(name)) {}
    HResult friendlyName(std::string& value) override {
        value = name;
        return hresult::ok;
    }
    HResult activate(std::unique_ptr<CameraSource>& source) override {
        source.reset();
        int error = 0;
        SharedFd fd = openNode(node, error);
        if (!fd) return fromErrno(error);
        std::string unused;
        if (!isCamera(fd->fd, unused)) return hresult::videoDeviceRemoved;  // another device took the node
        source = std::make_unique<V4l2Source>(std::move(fd));
        return hresult::ok;
    }

private:
    const std::filesystem::path node;
    const std::string name;
};

class V4l2CameraPlatform : public CameraPlatform {
public:
    HResult initializeThread() override { return hresult::ok; }
    void uninitializeThread() override {}
    HResult startup() override { return hresult::ok; }
    HResult shutdown() override { return hresult::ok; }

    HResult listDevices(std::vector<std::unique_ptr<CameraDevice>>& devices, CameraListStep& failedStep) override {
        devices.clear();
        failedStep = CameraListStep::enumerate;
        std::vector<std::pair<unsigned long, std::filesystem::path>> nodes;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string file = entry.path().filename().string();
            if (file.size() > 5 && file.compare(0, 5, "video") == 0 &&
                file.find_first_not_of("0123456789", 5) == std::string::npos) {
                nodes.emplace_back(std::stoul(file.substr(5)), entry.path());
            }
        }
        if (error) return fromErrno(error.value());
        std::sort(nodes.begin(), nodes.end());
        for (const auto& node : nodes) {
            int openError = 0;
            const SharedFd fd = openNode(node.second, openError);
            std::string name;
            if (fd && isCamera(fd->fd, name)) devices.push_back(std::make_unique<V4l2Device>(node.second, name));
        }
        return hresult::ok;
    }

    HResult createReader(CameraSource& source, std::unique_ptr<CameraReader>& reader) override {
        reader.reset();
        auto* v4l2 = dynamic_cast<V4l2Source*>(&source);
        if (v4l2 == nullptr) return hresult::invalidArgument;
        reader = std::make_unique<V4l2Reader>(v4l2->fd);
        return hresult::ok;
    }

    bool canRecord(CameraMediaType& type) override {
        MediaGuid subtype;
        return succeeded(type.subtype(subtype)) && writerSubtypeFor(subtype).has_value();
    }

    std::string errorText(HResult result) override {
        const int error = errnoOf(result);
        if (error != 0) return "errno " + std::to_string(error) + ", " + std::strerror(error);
        char text[32];
        std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(result));
        return text;
    }

    HResult createWriter(const std::filesystem::path& file, CameraMediaType& nativeType, std::unique_ptr<SinkWriter>& writer,
                         uint32_t& streamIndex, WebcamWriterStep& failedStep) override {
        writer.reset();
        auto created = std::make_unique<FfmpegSinkWriter>(file, true);
        VideoMediaType input;
        MediaGuid subtype;
        failedStep = WebcamWriterStep::copyNativeType;
        if (failed(nativeType.subtype(subtype)) || failed(nativeType.frameSize(input.width, input.height)) ||
            failed(nativeType.frameRate(input.frameRateNumerator, input.frameRateDenominator))) {
            return hresult::invalidArgument;
        }
        VideoMediaType output = input;
        output.subtype = VideoSubtype::h264;
        output.averageBitrate = webcamBitRate;
        output.progressive = true;
        output.profile = h264MainProfile;
        failedStep = WebcamWriterStep::addStream;
        HResult result = created->addStream(output, streamIndex);
        if (failed(result)) return result;
        failedStep = WebcamWriterStep::setInputType;
        const std::optional<VideoSubtype> writerSubtype = writerSubtypeFor(subtype);
        if (!writerSubtype) return hresult::invalidArgument;
        input.subtype = *writerSubtype;
        result = created->setInputMediaType(streamIndex, input);
        if (failed(result)) return result;
        failedStep = WebcamWriterStep::beginWriting;
        result = created->beginWriting();
        if (failed(result)) return result;
        writer = std::move(created);
        return result;
    }
};

}  // namespace

std::unique_ptr<CameraPlatform> createCameraPlatform() { return std::make_unique<V4l2CameraPlatform>(); }
