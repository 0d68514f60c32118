#include <windows.h>
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/video_file_finishing.h"
#include "platform/video_writer.h"
#include "platform/win/com_apartment.h"
#include "platform/win/media_foundation_libraries.h"
#include "platform/win/mf_sink_writer.h"
#include "platform/win/system_message.h"

// H.264/MPEG-4 encoding through a Media Foundation sink writer.
namespace {

using Microsoft::WRL::ComPtr;

uint64_t packed(uint32_t high, uint32_t low) { return (static_cast<uint64_t>(high) << 32) | low; }

class MfVideoSample : public VideoSample {
public:
    MfVideoSample(ComPtr<IMFSample> sample, ComPtr<IMFMediaBuffer> buffer) : sample(std::move(sample)), buffer(std::move(buffer)) {}
    HResult setSampleTime(int64_t time) override { return sample->SetSampleTime(time); }
    HResult setSampleDuration(int64_t duration) override { return sample->SetSampleDuration(duration); }

    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
};

// The encoder takes 4:2:0 only at even sizes: an odd size is written at the largest even size
// inside it, dropping the last column and the bottom row (the first row of a bottom-up image).
// The sink writer says a failed write (a full disk) only through the result of a later WriteSample
// or of Finalize; the first such result is kept for the recorder's line. A fragmented file is made
// an ordinary one once the writer has let go of it.
class MfSinkWriter : public SinkWriter {
public:
    MfSinkWriter(ComPtr<IMFSinkWriter> writer, std::wstring path, uint32_t gopFrames = 0)
        : writer(std::move(writer)), path(std::move(path)), gopFrames(gopFrames) {}

    ~MfSinkWriter() override {
        if (!finished && began && samplesWritten > 0) writer->Finalize();
        writer.Reset();
        if (samplesWritten == 0) DeleteFileW(path.c_str());
    }

    HResult addStream(const VideoMediaType& type, uint32_t& streamIndex) override {
        ComPtr<IMFMediaType> output;
        HRESULT result = MFCreateMediaType(&output);
        if (FAILED(result)) return result;
        width = type.width;
        height = type.height;
        output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
        output->SetUINT32(MF_MT_AVG_BITRATE, type.averageBitrate);
        output->SetUINT64(MF_MT_FRAME_SIZE, packed(width & ~1u, height & ~1u));
        output->SetUINT64(MF_MT_FRAME_RATE, packed(type.frameRateNumerator, type.frameRateDenominator));
        output->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, packed(type.pixelAspectNumerator, type.pixelAspectDenominator));
        if (gopFrames > 0) output->SetUINT32(MF_MT_MAX_KEYFRAME_SPACING, gopFrames);
        result = output->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
        if (FAILED(result)) return result;
        DWORD index = 0;
        result = writer->AddStream(output.Get(), &index);
        streamIndex = index;
        return result;
    }

    HResult setInputMediaType(uint32_t streamIndex, const VideoMediaType& type) override {
        if (type.width != width || type.height != height) return E_INVALIDARG;
        ComPtr<IMFMediaType> input;
        HRESULT result = MFCreateMediaType(&input);
        if (FAILED(result)) return result;
        input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
        input->SetUINT64(MF_MT_FRAME_SIZE, packed(width & ~1u, height & ~1u));
        input->SetUINT64(MF_MT_FRAME_RATE, packed(type.frameRateNumerator, type.frameRateDenominator));
        result = input->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, packed(type.pixelAspectNumerator, type.pixelAspectDenominator));
        if (FAILED(result)) return result;
        result = writer->SetInputMediaType(streamIndex, input.Get(), nullptr);
        if (SUCCEEDED(result)) boundGop(streamIndex);
        return result;
    }

    HResult beginWriting() override {
        const HRESULT result = writer->BeginWriting();
        began = SUCCEEDED(result);
        return result;
    }

    HResult writeSample(uint32_t streamIndex, std::unique_ptr<VideoSample> sample) override {
        auto* mfSample = dynamic_cast<MfVideoSample*>(sample.get());
        if (mfSample == nullptr) return E_INVALIDARG;
        ComPtr<IMFSample> toWrite = mfSample->sample;
        if ((width | height) & 1u) {
            const HRESULT cropped = cropToEvenSize(*mfSample, toWrite);
            if (FAILED(cropped)) return cropped;
        }
        const HRESULT result = writer->WriteSample(streamIndex, toWrite.Get());
        if (FAILED(result)) {
            noteWriteError(result);
            return result;
        }
        ++samplesWritten;
        LONGLONG duration = 0;
        if (SUCCEEDED(toWrite->GetSampleDuration(&duration))) lastDuration = duration;
        return result;
    }

    HResult finalize() override {
        if (finished) return MF_E_INVALIDREQUEST;
        finished = true;
        if (samplesWritten == 0) {
            // Nothing to keep: release the file and remove it rather than leave a broken one.
            writer.Reset();
            DeleteFileW(path.c_str());
            return MF_E_SINK_NO_SAMPLES_PROCESSED;
        }
        HRESULT result = writer->Finalize();
        if (FAILED(result)) noteWriteError(result);
        // A file that could not be written to the end is not complete, whatever Finalize says.
        if (SUCCEEDED(result)) result = writeError;
        // The file is closed only when the writer goes.
        writer.Reset();
        // Even after a failure the fragments that reached the file become an ordinary file when
        // they can; when they cannot, the file stays as written, which plays.
        const VideoFinishResult finishing = finishVideoFile(std::filesystem::path(path), lastDuration);
        if (finishing.outcome == VideoFinishResult::Outcome::failed) {
            finishProblem = finishing.problem;
            if (SUCCEEDED(result)) result = E_FAIL;
        }
        return result;
    }

    std::string writeFailure() const override { return FAILED(writeError) ? systemMessage(writeError) : std::string(); }
    std::string finishFailure() const override { return finishProblem; }

private:
    void noteWriteError(HRESULT result) {
        if (SUCCEEDED(writeError)) writeError = result;
    }

    // Key frames at most gopFrames apart, so that each fragment of a fragmented file closes within
    // about a second. The output type's MF_MT_MAX_KEYFRAME_SPACING says the same for encoders that
    // read it; one that offers neither keeps its own spacing.
    void boundGop(uint32_t streamIndex) {
        if (gopFrames == 0) return;
        ComPtr<ICodecAPI> codec;
        // IID_ICodecAPI (strmiids): mingw-w64 declares no __uuidof for it.
        if (FAILED(writer->GetServiceForStream(streamIndex, GUID_NULL, IID_ICodecAPI, reinterpret_cast<void**>(codec.GetAddressOf()))) ||
            !codec) {
            return;
        }
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_UI4;
        value.ulVal = gopFrames;
        codec->SetValue(&CODECAPI_AVEncMPVGOPSize, &value);
    }

    HRESULT cropToEvenSize(MfVideoSample& source, ComPtr<IMFSample>& cropped) {
        const uint32_t evenWidth = width & ~1u;
        const uint32_t evenHeight = height & ~1u;
        const DWORD size = evenWidth * evenHeight * 4;
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT result = MFCreateMemoryBuffer(size, &buffer);
        if (FAILED(result)) return result;
        BYTE* from = nullptr;
        DWORD fromLength = 0;
        result = source.buffer->Lock(&from, nullptr, &fromLength);
        if (FAILED(result)) return result;
        BYTE* to = nullptr;
        result = buffer->Lock(&to, nullptr, nullptr);
        if (SUCCEEDED(result)) {
            const size_t rowBytes = static_cast<size_t>(width) * 4;
            const size_t skippedRows = height - evenHeight;  // the bottom row comes first in memory
            if (fromLength >= rowBytes * height) {
                for (uint32_t row = 0; row < evenHeight; ++row) {
                    std::memcpy(to + static_cast<size_t>(row) * evenWidth * 4, from + (row + skippedRows) * rowBytes, evenWidth * 4);
                }
            }
            buffer->Unlock();
        }
        source.buffer->Unlock();
        if (FAILED(result)) return result;
        buffer->SetCurrentLength(size);
        result = MFCreateSample(&cropped);
        if (FAILED(result)) return result;
        result = cropped->AddBuffer(buffer.Get());
        if (FAILED(result)) return result;
        LONGLONG time = 0;
        LONGLONG duration = 0;
        source.sample->GetSampleTime(&time);
        source.sample->GetSampleDuration(&duration);
        cropped->SetSampleTime(time);
        return cropped->SetSampleDuration(duration);
    }

    ComPtr<IMFSinkWriter> writer;
    std::wstring path;
    const uint32_t gopFrames;
    uint32_t width = 0;
    uint32_t height = 0;
    bool began = false;
    bool finished = false;
    uint64_t samplesWritten = 0;
    int64_t lastDuration = 0;  // of the last sample written, 100 ns
    HRESULT writeError = S_OK;
    std::string finishProblem;
};

class MfMediaPlatform : public MediaPlatform {
public:
    bool librariesAvailable(std::string& reason) override { return mediaFoundationAvailable(reason); }

    // The screen thread pumps no messages: it joins the multi-threaded apartment.
    HResult initializeThread() override { return apartment.join(); }
    void uninitializeThread() override { apartment.leave(); }
    HResult startup() override { return MFStartup(MF_VERSION, MFSTARTUP_FULL); }
    HResult shutdown() override { return MFShutdown(); }

    HResult createSinkWriter(const std::filesystem::path& file, const SinkWriterAttributes& settings,
                             std::unique_ptr<SinkWriter>& writer) override {
        writer.reset();
        ComPtr<IMFAttributes> attributes;
        HRESULT result = MFCreateAttributes(&attributes, 0);
        if (FAILED(result)) return result;
        // Their results are not examined: the writer works with whatever could be set.
        if (settings.enableHardwareTransforms) attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1);
        if (settings.mpeg4Container) {
            attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE,
                                settings.fragmented ? MFTranscodeContainerType_FMPEG4 : MFTranscodeContainerType_MPEG4);
        }
        ComPtr<IMFSinkWriter> created;
        const std::wstring path = file.wstring();
        result = MFCreateSinkWriterFromURL(path.c_str(), nullptr, attributes.Get(), &created);
        if (FAILED(result)) {
            DeleteFileW(path.c_str());
            return result;
        }
        writer = std::make_unique<MfSinkWriter>(std::move(created), path, settings.fragmented ? settings.keyFrameSpacing : 0);
        return result;
    }

    // One memory buffer per sample holding a copy of the image.
    HResult createSample(const SampleImage& image, uint32_t length, std::unique_ptr<VideoSample>& sample) override {
        sample.reset();
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT result = MFCreateMemoryBuffer(length, &buffer);
        if (FAILED(result)) return result;
        BYTE* data = nullptr;
        DWORD maxLength = 0;
        result = buffer->Lock(&data, &maxLength, nullptr);
        if (FAILED(result)) return result;
        const size_t available = image ? image->size() : 0;
        const size_t copied = std::min<size_t>({length, maxLength, available});
        if (copied > 0) std::memcpy(data, image->data(), copied);
        if (copied < maxLength) std::memset(data + copied, 0, maxLength - copied);
        result = buffer->Unlock();
        if (FAILED(result)) return result;
        result = buffer->SetCurrentLength(length);
        if (FAILED(result)) return result;
        ComPtr<IMFSample> created;
        result = MFCreateSample(&created);
        if (FAILED(result)) return result;
        result = created->AddBuffer(buffer.Get());
        if (FAILED(result)) return result;
        sample = std::make_unique<MfVideoSample>(std::move(created), std::move(buffer));
        return result;
    }

private:
    ComApartment apartment;
};

}  // namespace

std::unique_ptr<MediaPlatform> createMediaPlatform() { return std::make_unique<MfMediaPlatform>(); }

std::unique_ptr<SinkWriter> wrapMfSinkWriter(ComPtr<IMFSinkWriter> writer, std::wstring path, uint32_t keyFrameSpacing) {
    return std::make_unique<MfSinkWriter>(std::move(writer), std::move(path), keyFrameSpacing);
}

std::unique_ptr<VideoSample> wrapMfSample(ComPtr<IMFSample> sample) {
    return std::make_unique<MfVideoSample>(std::move(sample), nullptr);
}
