#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/camera.h"
#include "platform/win/com_apartment.h"
#include "platform/win/media_foundation_libraries.h"
#include "platform/win/mf_sink_writer.h"

// Cameras through Media Foundation: device sources, an asynchronous source reader (so that a
// read can give up after a timeout), and a sink writer that takes the camera's native type.
namespace {

using Microsoft::WRL::ComPtr;

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
        const HRESULT result = reader->GetNativeMediaType(0, index, &native);
        if (SUCCEEDED(result)) type = std::make_unique<MfCameraMediaType>(std::move(native));
        return result;
    }

    HResult setCurrentMediaType(CameraMediaType& type) override {
        auto* native = dynamic_cast<MfCameraMediaType*>(&type);
        if (native == nullptr) return E_INVALIDARG;
        return reader->SetCurrentMediaType(0, nullptr, native->type.Get());
    }

    HResult readSample(uint32_t timeoutMillis, std::unique_ptr<VideoSample>& sample) override {
        sample.reset();
        if (!pending) {
            const HRESULT requested = reader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, nullptr, nullptr, nullptr, nullptr);
            if (FAILED(requested)) return requested;
            pending = true;
        }
        HRESULT status = S_OK;
        ComPtr<IMFSample> delivered;
        if (!callback->wait(timeoutMillis, status, delivered)) return S_OK;  // still pending; asked again next time
        pending = false;
        if (FAILED(status)) return status;
        if (delivered) sample = wrapMfSample(std::move(delivered));
        return S_OK;
    }

private:
    const ComPtr<IMFSourceReader> reader;
    const ComPtr<ReaderCallback> callback;
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
    HResult shutdown() override { return MFShutdown(); }

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
            ComPtr<IMFActivate> activation;
            activation.Attach(array[i]);
            devices.push_back(std::make_unique<MfCameraDevice>(std::move(activation)));
        }
        CoTaskMemFree(array);
        return result;
    }

    HResult createReader(CameraSource& source, std::unique_ptr<CameraReader>& reader) override {
        reader.reset();
        auto* media = dynamic_cast<MfCameraSource*>(&source);
        if (media == nullptr) return E_INVALIDARG;
        ComPtr<ReaderCallback> callback;
        callback.Attach(new (std::nothrow) ReaderCallback());
        if (!callback) return E_OUTOFMEMORY;
        ComPtr<IMFAttributes> attributes;
        HRESULT result = MFCreateAttributes(&attributes, 1);
        if (SUCCEEDED(result)) result = attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback.Get());
        ComPtr<IMFSourceReader> created;
        if (SUCCEEDED(result)) result = MFCreateSourceReaderFromMediaSource(media->source.Get(), attributes.Get(), &created);
        if (SUCCEEDED(result)) reader = std::make_unique<MfCameraReader>(std::move(created), std::move(callback));
        return result;
    }

    HResult createWriter(const std::filesystem::path& file, CameraMediaType& nativeType, std::unique_ptr<SinkWriter>& writer,
                         uint32_t& streamIndex, WebcamWriterStep& failedStep) override {
        writer.reset();
        auto* native = dynamic_cast<MfCameraMediaType*>(&nativeType);
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

        failedStep = WebcamWriterStep::registerColourConverter;
        result = MFTRegisterLocalByCLSID(__uuidof(CColorConvertDMO), MFT_CATEGORY_VIDEO_PROCESSOR, L"", MFT_ENUM_FLAG_SYNCMFT, 0,
                                         nullptr, 0, nullptr);
        if (FAILED(result)) return result;

        ComPtr<IMFMediaType> output;
        failedStep = WebcamWriterStep::createOutputType;
        result = MFCreateMediaType(&output);
        if (FAILED(result)) return result;
        failedStep = WebcamWriterStep::copyNativeType;
        result = native->type->CopyAllItems(output.Get());
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
    ComApartment apartment;
};

}  // namespace

std::unique_ptr<CameraPlatform> createCameraPlatform() { return std::make_unique<MfCameraPlatform>(); }
