#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/video_frame_reader.h"

// Reading a video back through Media Foundation source readers: one delivering the compressed
// samples (counted without decoding), one decoding frames for previews.
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

// Video subtypes are FourCC GUIDs: name them by their code ("h264" for both H.264 forms).
std::string fourCcName(const GUID& subtype) {
    if (subtype == MFVideoFormat_H264 || subtype == MFVideoFormat_H264_ES) return "h264";
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((subtype.Data1 >> shift) & 0xFF);
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name;
}

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
        fileFacts.codec = fourCcName(subtype);
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
        // RGB32 through the video processor where the platform has one; otherwise the decoder's
        // own NV12, converted here.
        for (const GUID& subtype : {MFVideoFormat_RGB32, MFVideoFormat_NV12}) {
            ComPtr<IMFMediaType> wanted;
            if (FAILED(result = MFCreateMediaType(&wanted))) break;
            wanted->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
            wanted->SetGUID(MF_MT_SUBTYPE, subtype);
            result = decoding->SetCurrentMediaType(videoStream, nullptr, wanted.Get());
            if (SUCCEEDED(result)) {
                nv12 = subtype == MFVideoFormat_NV12;
                break;
            }
        }
        ComPtr<IMFMediaType> current;
        if (FAILED(result) || FAILED(result = decoding->GetCurrentMediaType(videoStream, &current))) {
            error = hresultText("setting up decoding to RGB32 or NV12", result);
            return false;
        }
        MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &frameWidth, &frameHeight);
        // Decoders round the frame up to whole macroblocks; the picture is the file's size.
        visibleWidth = std::min(frameWidth, fileFacts.width ? fileFacts.width : frameWidth);
        visibleHeight = std::min(frameHeight, fileFacts.height ? fileFacts.height : frameHeight);
        defaultStride = static_cast<INT32>(MFGetAttributeUINT32(current.Get(), MF_MT_DEFAULT_STRIDE, frameWidth * (nv12 ? 1 : 4)));
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

    // RGB32 (B, G, R, X) or NV12 to RGBA at `width`, nearest sample: enough for a preview.
    bool convert(IMFSample& sample, uint32_t width, VideoFrameImage& image, std::string& error) {
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT result = sample.ConvertToContiguousBuffer(&buffer);
        if (FAILED(result)) {
            error = hresultText("reading the frame", result);
            return false;
        }
        // A 2-D buffer knows its real pitch and where the top row is; a plain one uses the type's.
        ComPtr<IMF2DBuffer> planes;
        BYTE* top = nullptr;
        LONG pitch = 0;
        BYTE* data = nullptr;
        DWORD length = 0;
        const bool twoD = SUCCEEDED(buffer.As(&planes)) && SUCCEEDED(planes->Lock2D(&top, &pitch));
        if (!twoD) {
            if (FAILED(result = buffer->Lock(&data, nullptr, &length))) {
                error = hresultText("reading the frame", result);
                return false;
            }
            pitch = defaultStride;
            top = pitch < 0 ? data + static_cast<size_t>(frameHeight - 1) * static_cast<size_t>(-pitch) : data;
            const uint64_t needed = static_cast<uint64_t>(std::abs(pitch)) * frameHeight * (nv12 ? 3 : 2) / 2;
            if (needed > length) {
                buffer->Unlock();
                error = "frame smaller than its size";
                return false;
            }
        }
        if (visibleWidth == 0 || visibleHeight == 0) {
            if (twoD) planes->Unlock2D(); else buffer->Unlock();
            error = "empty frame";
            return false;
        }
        const uint32_t outWidth = width == 0 ? visibleWidth : width;
        const uint32_t outHeight = std::max<uint32_t>(1, static_cast<uint32_t>(static_cast<uint64_t>(visibleHeight) * outWidth / visibleWidth));
        image.width = outWidth;
        image.height = outHeight;
        image.rgba.assign(static_cast<size_t>(outWidth) * outHeight * 4, 255);
        const BYTE* chroma = top + static_cast<ptrdiff_t>(pitch) * frameHeight;
        for (uint32_t y = 0; y < outHeight; ++y) {
            const uint32_t sourceY = static_cast<uint32_t>(static_cast<uint64_t>(y) * visibleHeight / outHeight);
            const BYTE* row = top + static_cast<ptrdiff_t>(pitch) * sourceY;
            uint8_t* out = image.rgba.data() + static_cast<size_t>(y) * outWidth * 4;
            for (uint32_t x = 0; x < outWidth; ++x) {
                const uint32_t sourceX = static_cast<uint32_t>(static_cast<uint64_t>(x) * visibleWidth / outWidth);
                if (nv12) {
                    // BT.601 limited range, as the encoder wrote it.
                    const BYTE* uv = chroma + static_cast<ptrdiff_t>(pitch) * (sourceY / 2) + (sourceX & ~1u);
                    const int c = row[sourceX] - 16, d = uv[0] - 128, e = uv[1] - 128;
                    out[x * 4 + 0] = static_cast<uint8_t>(std::clamp((298 * c + 409 * e + 128) >> 8, 0, 255));
                    out[x * 4 + 1] = static_cast<uint8_t>(std::clamp((298 * c - 100 * d - 208 * e + 128) >> 8, 0, 255));
                    out[x * 4 + 2] = static_cast<uint8_t>(std::clamp((298 * c + 516 * d + 128) >> 8, 0, 255));
                } else {
                    const BYTE* pixel = row + static_cast<size_t>(sourceX) * 4;
                    out[x * 4 + 0] = pixel[2];
                    out[x * 4 + 1] = pixel[1];
                    out[x * 4 + 2] = pixel[0];
                }
            }
        }
        if (twoD) planes->Unlock2D(); else buffer->Unlock();
        return true;
    }

    MediaFoundationScope mediaFoundation;
    ComPtr<IMFSourceReader> decoding;
    bool nv12 = false;
    UINT32 frameWidth = 0;   // the decoded frame, padded
    UINT32 frameHeight = 0;
    UINT32 visibleWidth = 0;  // the picture within it
    UINT32 visibleHeight = 0;
    INT32 defaultStride = 0;
    VideoFileFacts fileFacts;
};

}  // namespace

std::unique_ptr<VideoFrameReader> openVideoFrameReader(const std::filesystem::path& file, std::string& error) {
    auto reader = std::make_unique<MfFrameReader>();
    if (!reader->open(file, error)) return nullptr;
    return reader;
}
