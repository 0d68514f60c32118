#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/camera.h"
#include "platform/win/colour_converter_registration.h"
#include "platform/win/com_adopt.h"
#include "platform/win/com_apartment.h"
#include "platform/win/media_foundation_libraries.h"
#include "platform/win/mf_sink_writer.h"

// Cameras through Media Foundation: device sources, an asynchronous source reader (so that a
// read can give up after a timeout) on the first video stream only, decoding compressed types to
// NV12 with its advanced video processing, and a sink writer that takes what the reader delivers.
namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD videoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

// What the sink writer's converters take as they are; anything else is decoded by the reader.
bool uncompressed(const GUID& subtype) {
    for (const GUID& raw : {MFVideoFormat_YUY2, MFVideoFormat_UYVY, MFVideoFormat_NV12, MFVideoFormat_I420,
                            MFVideoFormat_IYUV, MFVideoFormat_YV12, MFVideoFormat_RGB24, MFVideoFormat_RGB32}) {
        if (subtype == raw) return true;
    }
    return false;
}

MediaGuid toMediaGuid(const GUID& guid) {
    MediaGuid value;
    value.data1 = guid.Data1;
    value.data2 = guid.Data2;
    value.data3 = guid.Data3;
    std::memcpy(value.data4, guid.Data4, sizeof value.data4);
    return value;
}

std::string toUtf8(const wchar_t* text, UINT32 length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr, nullptr);
    return result;
}

void split(UINT64 packed, uint32_t& high, uint32_t& low) {
    high = static_cast<uint32_t>(packed >> 32);
    low = static_cast<uint32_t>(packed & 0xFFFFFFFFu);
}

// Size, rate and pixel aspect: what the encoded stream keeps of the camera's type. Everything else
// of it (its subtype, stride, sample size, a camera's private attributes) describes the raw frames.
HRESULT copyPictureFacts(IMFMediaType& from, IMFMediaType& to) {
    UINT64 value = 0;
    HRESULT result = from.GetUINT64(MF_MT_FRAME_SIZE, &value);
    if (SUCCEEDED(result)) result = to.SetUINT64(MF_MT_FRAME_SIZE, value);
    if (SUCCEEDED(result)) result = from.GetUINT64(MF_MT_FRAME_RATE, &value);
    if (SUCCEEDED(result)) result = to.SetUINT64(MF_MT_FRAME_RATE, value);
    if (FAILED(result)) return result;
    // Square pixels when the camera does not say.
    if (FAILED(from.GetUINT64(MF_MT_PIXEL_ASPECT_RATIO, &value))) value = (UINT64{1} << 32) | 1;
    return to.SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, value);
}

class MfCameraMediaType : public CameraMediaType {
public:
    explicit MfCameraMediaType(ComPtr<IMFMediaType> type) : type(std::move(type)) {}
    HResult subtype(MediaGuid& value) override {
        GUID guid = GUID_NULL;
        const HRESULT result = type->GetGUID(MF_MT_SUBTYPE, &guid);
        value = toMediaGuid(guid);
        return result;
    }
    HResult frameSize(uint32_t& width, uint32_t& height) override {
        UINT64 packed = 0;
        const HRESULT result = type->GetUINT64(MF_MT_FRAME_SIZE, &packed);
        split(packed, width, height);
        return result;
    }
    HResult frameRate(uint32_t& numerator, uint32_t& denominator) override {
        UINT64 packed = 0;
        const HRESULT result = type->GetUINT64(MF_MT_FRAME_RATE, &packed);
        split(packed, numerator, denominator);
        return result;
    }
    const ComPtr<IMFMediaType> type;
};

// The media source is shut down when released: the platform keeps the camera otherwise.
class MfCameraSource : public CameraSource {
public:
    explicit MfCameraSource(ComPtr<IMFMediaSource> source) : source(std::move(source)) {}
    ~MfCameraSource() override { source->Shutdown(); }
    const ComPtr<IMFMediaSource> source;
};

// Receives the reader's samples on a Media Foundation thread and hands them to the waiting reader.
class ReaderCallback final : public IMFSourceReaderCallback {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceReaderCallback)) {
            *object = static_cast<IMFSourceReaderCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&references);
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG, IMFSample* delivered) override {
        std::lock_guard<std::mutex> lock(mutex);
        // An error flag or the end of the camera's stream: no further reads will bring frames.
        if (SUCCEEDED(status) && (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) {
            status = MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
        }
        // The camera switched formats: what comes now is not what the writer was set up for.
        if (SUCCEEDED(status) &&
            (flags & (MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED | MF_SOURCE_READERF_NATIVEMEDIATYPECHANGED))) {
            status = static_cast<HRESULT>(hresult::formatChanged);
        }
        result = status;
        sample = delivered;
        done = true;
        changed.notify_all();
        return S_OK;
    }
    STDMETHODIMP OnFlush(DWORD) override { return S_OK; }
    STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

    // Waits for the pending read; false when it has not completed in time.
    bool wait(uint32_t timeoutMillis, HRESULT& status, ComPtr<IMFSample>& delivered) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::milliseconds(timeoutMillis), [this] { return done; })) return false;
        status = result;
        delivered = std::move(sample);
        done = false;
        return true;
    }

private:
    ~ReaderCallback() = default;
    LONG references = 1;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    HRESULT result = S_OK;
    ComPtr<IMFSample> sample;
};

class MfCameraReader : public CameraReader {
public:
    MfCameraReader(ComPtr<IMFSourceReader> reader, ComPtr<ReaderCallback> callback)
        : reader(std::move(reader)), callback(std::move(callback)) {}

    HResult nativeMediaType(uint32_t index, std::unique_ptr<CameraMediaType>& type) override {
        type.reset();
        ComPtr<IMFMediaType> native;
        const HRESULT result = reader->GetNativeMediaType(videoStream, index, &native);
        if (SUCCEEDED(result)) type = std::make_unique<MfCameraMediaType>(std::move(native));
        return result;
    }

    HResult setCurrentMediaType(CameraMediaType& type) override {
        auto* native = dynamic_cast<MfCameraMediaType*>(&type);
        if (native == nullptr) return E_INVALIDARG;
        // A native type sets the camera's own format.
        HRESULT result = reader->SetCurrentMediaType(videoStream, nullptr, native->type.Get());
        if (FAILED(result)) return result;
        GUID subtype = GUID_NULL;
        native->type->GetGUID(MF_MT_SUBTYPE, &subtype);
        if (!uncompressed(subtype)) {
            // An uncompressed type of the same size and rate makes the reader decode the camera's
            // (MJPG, ...) and convert it to NV12, which the H.264 encoder takes.
            ComPtr<IMFMediaType> decoded;
            result = MFCreateMediaType(&decoded);
            if (SUCCEEDED(result)) result = decoded->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
            if (SUCCEEDED(result)) result = decoded->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
            if (SUCCEEDED(result)) result = copyPictureFacts(*native->type.Get(), *decoded.Get());
            if (SUCCEEDED(result)) result = reader->SetCurrentMediaType(videoStream, nullptr, decoded.Get());
            if (FAILED(result)) return result;
        }
        delivered.Reset();
        return reader->GetCurrentMediaType(videoStream, &delivered);
    }

    HResult deliveredMediaType(std::unique_ptr<CameraMediaType>& type) override {
        type.reset();
        if (!delivered) return MF_E_NOT_INITIALIZED;
        type = std::make_unique<MfCameraMediaType>(delivered);
        return S_OK;
    }

    HResult restoreDeliveredType() override {
        if (!delivered || pending) return MF_E_INVALIDREQUEST;
        // With advanced video processing the reader converts the new format back to this one.
        return reader->SetCurrentMediaType(videoStream, nullptr, delivered.Get());
    }

    HResult readSample(uint32_t timeoutMillis, std::unique_ptr<VideoSample>& sample) override {
        sample.reset();
        if (!pending) {
            const HRESULT requested = reader->ReadSample(videoStream, 0, nullptr, nullptr, nullptr, nullptr);
            if (FAILED(requested)) return requested;
            pending = true;
        }
        HRESULT status = S_OK;
        ComPtr<IMFSample> frame;
        if (!callback->wait(timeoutMillis, status, frame)) return S_OK;  // still pending; asked again next time
        pending = false;
        if (FAILED(status)) return status;
        if (frame) sample = wrapMfSample(std::move(frame));
        return status;
    }

private:
    const ComPtr<IMFSourceReader> reader;
    const ComPtr<ReaderCallback> callback;
    ComPtr<IMFMediaType> delivered;  // what readSample hands out
    bool pending = false;
};

class MfCameraDevice : public CameraDevice {
public:
    explicit MfCameraDevice(ComPtr<IMFActivate> activate) : activation(std::move(activate)) {}

    HResult friendlyName(std::string& name) override {
        WCHAR* text = nullptr;
        UINT32 length = 0;
        const HRESULT result = activation->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &text, &length);
        if (SUCCEEDED(result)) name = toUtf8(text, length);
        CoTaskMemFree(text);
        return result;
    }

    HResult activate(std::unique_ptr<CameraSource>& source) override {
        source.reset();
        ComPtr<IMFMediaSource> media;
        const HRESULT result = activation->ActivateObject(IID_PPV_ARGS(&media));
        if (SUCCEEDED(result)) source = std::make_unique<MfCameraSource>(std::move(media));
        return result;
    }

private:
    const ComPtr<IMFActivate> activation;
};

class MfCameraPlatform : public CameraPlatform {
public:
    bool librariesAvailable(std::string& reason) override { return mediaFoundationAvailable(reason); }
    // The webcam thread pumps no messages: it joins the multi-threaded apartment.
    HResult initializeThread() override { return apartment.join(); }
    void uninitializeThread() override { apartment.leave(); }
    HResult startup() override { return MFStartup(MF_VERSION, MFSTARTUP_FULL); }
    HResult shutdown() override {
        converter.release();
        return MFShutdown();
    }

    bool canRecord(CameraMediaType& type) override {
        MediaGuid subtype;
        if (failed(type.subtype(subtype))) return false;
        return subtype == mediaSubtype::mjpg || writerSubtypeFor(subtype).has_value() || subtype == mediaSubtype::rgb32;
    }

    std::string errorText(HResult result) override {
        char text[32];
        std::snprintf(text, sizeof text, "HRESULT 0x%08lX", static_cast<unsigned long>(result));
        return text;
    }

    HResult listDevices(std::vector<std::unique_ptr<CameraDevice>>& devices, CameraListStep& failedStep) override {
        devices.clear();
        ComPtr<IMFAttributes> attributes;
        failedStep = CameraListStep::createAttributes;
        HRESULT result = MFCreateAttributes(&attributes, 1);
        if (FAILED(result)) return result;
        failedStep = CameraListStep::setSourceType;
        result = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
        if (FAILED(result)) return result;
        failedStep = CameraListStep::enumerate;
        IMFActivate** array = nullptr;
        UINT32 count = 0;
        result = MFEnumDeviceSources(attributes.Get(), &array, &count);
        if (FAILED(result)) return result;
        // Each element is owned from here on; the array itself is the caller's to free.
        for (UINT32 i = 0; i < count; ++i) {
            devices.push_back(std::make_unique<MfCameraDevice>(adoptReference(array[i])));
        }
        CoTaskMemFree(array);
        return result;
    }

    HResult createReader(CameraSource& source, std::unique_ptr<CameraReader>& reader) override {
        reader.reset();
        auto* media = dynamic_cast<MfCameraSource*>(&source);
        if (media == nullptr) return E_INVALIDARG;
        ComPtr<ReaderCallback> callback = adoptReference(new (std::nothrow) ReaderCallback());
        if (!callback) return E_OUTOFMEMORY;
        ComPtr<IMFAttributes> attributes;
        HRESULT result = MFCreateAttributes(&attributes, 2);
        if (SUCCEEDED(result)) result = attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback.Get());
        // Decoding and colour conversion inside the reader, for cameras whose types the sink
        // writer cannot take (MJPG) and for a camera that changes its format mid-stream.
        if (SUCCEEDED(result)) result = attributes->SetUINT32(MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, TRUE);
        ComPtr<IMFSourceReader> created;
        if (SUCCEEDED(result)) result = MFCreateSourceReaderFromMediaSource(media->source.Get(), attributes.Get(), &created);
        // The first video stream alone: a camera may offer others (a second video stream, audio,
        // metadata) that would otherwise deliver too.
        if (SUCCEEDED(result)) result = created->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
        if (SUCCEEDED(result)) result = created->SetStreamSelection(videoStream, TRUE);
        if (SUCCEEDED(result)) reader = std::make_unique<MfCameraReader>(std::move(created), std::move(callback));
        return result;
    }

    HResult createWriter(const std::filesystem::path& file, CameraMediaType& deliveredType, std::unique_ptr<SinkWriter>& writer,
                         uint32_t& streamIndex, WebcamWriterStep& failedStep) override {
        writer.reset();
        auto* native = dynamic_cast<MfCameraMediaType*>(&deliveredType);
        failedStep = WebcamWriterStep::copyNativeType;
        if (native == nullptr) return E_INVALIDARG;

        ComPtr<IMFAttributes> attributes;
        failedStep = WebcamWriterStep::createAttributes;
        HRESULT result = MFCreateAttributes(&attributes, 2);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::enableHardwareTransforms;
        result = attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, TRUE);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::enableLowLatency;
        result = attributes->SetUINT32(MF_LOW_LATENCY, TRUE);
        if (FAILED(result)) return result;

        failedStep = WebcamWriterStep::createSinkWriter;
        const std::wstring path = file.wstring();
        ComPtr<IMFSinkWriter> sinkWriter;
        result = MFCreateSinkWriterFromURL(path.c_str(), nullptr, attributes.Get(), &sinkWriter);
        if (FAILED(result)) {
            DeleteFileW(path.c_str());
            return result;
        }
        // From here a failure drops the wrapper, which removes the file it wrote nothing to.
        std::unique_ptr<SinkWriter> wrapped = wrapMfSinkWriter(sinkWriter, path);

        // Held until this thread's Media Foundation session shuts down.
        failedStep = WebcamWriterStep::registerColourConverter;
        result = converter.acquire();
        if (FAILED(result)) return result;

        ComPtr<IMFMediaType> output;
        failedStep = WebcamWriterStep::createOutputType;
        result = MFCreateMediaType(&output);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::copyNativeType;
        result = output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        if (SUCCEEDED(result)) result = copyPictureFacts(*native->type.Get(), *output.Get());
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::setH264Subtype;
        result = output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::setBitrate;
        result = output->SetUINT32(MF_MT_AVG_BITRATE, webcamBitRate);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::setInterlaceMode;
        result = output->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::setProfile;
        result = output->SetUINT32(MF_MT_MPEG2_PROFILE, h264MainProfile);
        if (FAILED(result)) return result;

        failedStep = WebcamWriterStep::addStream;
        DWORD index = 0;
        result = sinkWriter->AddStream(output.Get(), &index);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::setInputType;
        result = sinkWriter->SetInputMediaType(index, native->type.Get(), nullptr);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::beginWriting;
        result = wrapped->beginWriting();
        if (FAILED(result)) return result;
        streamIndex = index;
        writer = std::move(wrapped);
        return result;
    }

private:
    // Destroyed in reverse: the converter is let go while the apartment still stands.
    ComApartment apartment;
    ColourConverterRegistration converter;
};

}  // namespace

std::unique_ptr<CameraPlatform> createCameraPlatform() { return std::make_unique<MfCameraPlatform>(); }
