#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>

#include "platform/video_frame_reader.h"

// Reading a video back through Media Foundation source readers: one delivering the compressed
// samples (counted without decoding), one decoding to RGB32 through the video processor.
namespace {

using Microsoft::WRL::ComPtr;

std::string hresultText(const char* step, HRESULT result) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (HRESULT 0x%08lX)", step, static_cast<unsigned long>(result));
    return text;
}

// COM and Media Foundation for the reader's lifetime on the calling thread; a thread already in
// another apartment keeps it.
class MediaFoundationScope {
public:
    MediaFoundationScope() {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        comInitialised = SUCCEEDED(com);
        started = SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_LITE));
    }
    ~MediaFoundationScope() {
        if (started) MFShutdown();
        if (comInitialised) CoUninitialize();
    }
    MediaFoundationScope(const MediaFoundationScope&) = delete;
    MediaFoundationScope& operator=(const MediaFoundationScope&) = delete;
    bool ready() const { return started; }

private:
    bool comInitialised = false;
    bool started = false;
};

constexpr DWORD videoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

class MfFrameReader : public VideoFrameReader {
public:
    bool open(const std::filesystem::path& file, std::string& error) {
        if (!mediaFoundation.ready()) {
            error = "Media Foundation is not available";
            return false;
        }
        ComPtr<IMFSourceReader> compressed;
        HRESULT result = MFCreateSourceReaderFromURL(file.c_str(), nullptr, &compressed);
        if (FAILED(result)) {
            error = hresultText("opening the file", result);
            return false;
        }
        ComPtr<IMFMediaType> native;
        if (FAILED(result = compressed->GetNativeMediaType(videoStream, 0, &native)) ||
            FAILED(result = compressed->SetCurrentMediaType(videoStream, nullptr, native.Get()))) {
            error = hresultText("finding the video stream", result);
            return false;
        }
        GUID subtype{};
        native->GetGUID(MF_MT_SUBTYPE, &subtype);
        fileFacts.codec = subtype == MFVideoFormat_H264 ? "h264" : "other";
        UINT32 width = 0;
        UINT32 height = 0;
        MFGetAttributeSize(native.Get(), MF_MT_FRAME_SIZE, &width, &height);
        fileFacts.width = width;
        fileFacts.height = height;
        if (!countSamples(*compressed.Get(), error)) return false;

        ComPtr<IMFAttributes> attributes;
        if (FAILED(result = MFCreateAttributes(&attributes, 1)) ||
            FAILED(result = attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE)) ||
            FAILED(result = MFCreateSourceReaderFromURL(file.c_str(), attributes.Get(), &decoding))) {
            error = hresultText("opening the decoder", result);
            return false;
        }
        ComPtr<IMFMediaType> rgb;
        if (FAILED(result = MFCreateMediaType(&rgb))) {
            error = hresultText("MFCreateMediaType", result);
            return false;
        }
        rgb->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        rgb->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
        ComPtr<IMFMediaType> current;
        if (FAILED(result = decoding->SetCurrentMediaType(videoStream, nullptr, rgb.Get())) ||
            FAILED(result = decoding->GetCurrentMediaType(videoStream, &current))) {
            error = hresultText("setting up RGB32 decoding", result);
            return false;
        }
        MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &decodedWidth, &decodedHeight);
        stride = static_cast<INT32>(MFGetAttributeUINT32(current.Get(), MF_MT_DEFAULT_STRIDE, decodedWidth * 4));
        return true;
    }

    const VideoFileFacts& facts() const override { return fileFacts; }

    bool frameAt(int64_t time, uint32_t width, VideoFrameImage& image, std::string& error) override {
        PROPVARIANT position;
        PropVariantInit(&position);
        position.vt = VT_I8;
        position.hVal.QuadPart = time;
        HRESULT result = decoding->SetCurrentPosition(GUID_NULL, position);
        PropVariantClear(&position);
        if (FAILED(result)) {
            error = hresultText("seeking", result);
            return false;
        }
        // Seeking lands on the key frame before `time`: read on to the frame on show at `time`.
        ComPtr<IMFSample> latest;
        while (true) {
            DWORD flags = 0;
            LONGLONG stamp = 0;
            ComPtr<IMFSample> sample;
            result = decoding->ReadSample(videoStream, 0, nullptr, &flags, &stamp, &sample);
            if (FAILED(result)) {
                error = hresultText("decoding", result);
                return false;
            }
            if (sample) {
                latest = sample;
                image.time = stamp;
                if (stamp >= time) break;
            }
            if (flags & MF_SOURCE_READERF_ENDOFSTREAM) break;
        }
        if (!latest) {
            error = "no frame decoded";
            return false;
        }
        return convert(*latest.Get(), width, image, error);
    }

private:
    bool countSamples(IMFSourceReader& reader, std::string& error) {
        LONGLONG first = -1;
        LONGLONG end = 0;
        while (true) {
            DWORD flags = 0;
            LONGLONG stamp = 0;
            ComPtr<IMFSample> sample;
            const HRESULT result = reader.ReadSample(videoStream, 0, nullptr, &flags, &stamp, &sample);
            if (FAILED(result) || (flags & MF_SOURCE_READERF_ERROR)) {
                error = hresultText(("reading after " + std::to_string(fileFacts.samples) + " samples").c_str(), result);
                return false;
            }
            if (sample) {
                ++fileFacts.samples;
                LONGLONG duration = 0;
                sample->GetSampleDuration(&duration);
                if (first < 0 || stamp < first) first = stamp;
                end = std::max(end, stamp + duration);
            }
            if (flags & MF_SOURCE_READERF_ENDOFSTREAM) break;
        }
        if (fileFacts.samples == 0) {
            error = "no video samples";
            return false;
        }
        fileFacts.duration = end - std::max<LONGLONG>(first, 0);
        return true;
    }

    // RGB32 (B, G, R, X) to RGBA at `width`, nearest sample: enough for a preview.
    bool convert(IMFSample& sample, uint32_t width, VideoFrameImage& image, std::string& error) {
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT result = sample.ConvertToContiguousBuffer(&buffer);
        BYTE* data = nullptr;
        DWORD length = 0;
        if (FAILED(result) || FAILED(result = buffer->Lock(&data, nullptr, &length))) {
            error = hresultText("reading the frame", result);
            return false;
        }
        const uint32_t rowBytes = decodedWidth * 4;
        if (decodedWidth == 0 || decodedHeight == 0 || static_cast<uint64_t>(rowBytes) * decodedHeight > length) {
            buffer->Unlock();
            error = "frame smaller than its size";
            return false;
        }
        const uint32_t outWidth = width == 0 ? decodedWidth : width;
        const uint32_t outHeight = std::max<uint32_t>(1, static_cast<uint32_t>(static_cast<uint64_t>(decodedHeight) * outWidth / decodedWidth));
        image.width = outWidth;
        image.height = outHeight;
        image.rgba.assign(static_cast<size_t>(outWidth) * outHeight * 4, 0);
        const bool bottomUp = stride < 0;
        for (uint32_t y = 0; y < outHeight; ++y) {
            const uint32_t sourceY = static_cast<uint32_t>(static_cast<uint64_t>(y) * decodedHeight / outHeight);
            const BYTE* row = data + static_cast<size_t>(bottomUp ? decodedHeight - 1 - sourceY : sourceY) * rowBytes;
            uint8_t* out = image.rgba.data() + static_cast<size_t>(y) * outWidth * 4;
            for (uint32_t x = 0; x < outWidth; ++x) {
                const BYTE* pixel = row + static_cast<size_t>(static_cast<uint64_t>(x) * decodedWidth / outWidth) * 4;
                out[x * 4 + 0] = pixel[2];
                out[x * 4 + 1] = pixel[1];
                out[x * 4 + 2] = pixel[0];
                out[x * 4 + 3] = 255;
            }
        }
        buffer->Unlock();
        return true;
    }

    MediaFoundationScope mediaFoundation;
    ComPtr<IMFSourceReader> decoding;
    UINT32 decodedWidth = 0;
    UINT32 decodedHeight = 0;
    INT32 stride = 0;
    VideoFileFacts fileFacts;
};

}  // namespace

std::unique_ptr<VideoFrameReader> openVideoFrameReader(const std::filesystem::path& file, std::string& error) {
    auto reader = std::make_unique<MfFrameReader>();
    if (!reader->open(file, error)) return nullptr;
    return reader;
}
