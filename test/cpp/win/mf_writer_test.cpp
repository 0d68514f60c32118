// The Media Foundation writer's failures, on a scripted IMFSinkWriter: the real writer code runs,
// only the sink writer's results are played (Wine has no MP4 sink).
#include <gtest/gtest.h>

#include <windows.h>
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/video_writer.h"
#include "platform/win/colour_converter_registration.h"
#include "platform/win/media_foundation_libraries.h"
#include "platform/win/mf_sink_writer.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr HRESULT diskFull = static_cast<HRESULT>(0x80070070u);  // HRESULT_FROM_WIN32(ERROR_DISK_FULL)

// IMFSinkWriter::WriteSample and IMFSinkWriter::Finalize as their pages describe them: a failure
// of the file behind the sink comes back as the result of a later call.
class ScriptedSinkWriter : public IMFSinkWriter {
public:
    std::deque<HRESULT> writes;  // successive WriteSample results, then S_OK
    HRESULT finalizeResult = S_OK;
    UINT32 keyFrameSpacing = 0;
    bool codecAsked = false;
    int finalizeCalls = 0;

    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (id == __uuidof(IUnknown) || id == __uuidof(IMFSinkWriter)) {
            *object = static_cast<IMFSinkWriter*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }  // lives on the test's stack

    STDMETHODIMP AddStream(IMFMediaType* type, DWORD* index) override {
        type->GetUINT32(MF_MT_MAX_KEYFRAME_SPACING, &keyFrameSpacing);
        *index = 0;
        return S_OK;
    }
    STDMETHODIMP SetInputMediaType(DWORD, IMFMediaType*, IMFAttributes*) override { return S_OK; }
    STDMETHODIMP BeginWriting() override { return S_OK; }
    STDMETHODIMP WriteSample(DWORD, IMFSample*) override {
        if (writes.empty()) return S_OK;
        const HRESULT result = writes.front();
        writes.pop_front();
        return result;
    }
    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, LPVOID) override { return S_OK; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return S_OK; }
    STDMETHODIMP Finalize() override { return ++finalizeCalls, finalizeResult; }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID id, LPVOID* object) override {
        codecAsked = codecAsked || id == IID_ICodecAPI;
        *object = nullptr;
        return MF_E_UNSUPPORTED_SERVICE;
    }
    STDMETHODIMP GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> references{1};
};

std::unique_ptr<VideoSample> sample(int64_t time) {
    ComPtr<IMFSample> created;
    ComPtr<IMFMediaBuffer> buffer;
    EXPECT_TRUE(SUCCEEDED(MFCreateSample(&created)));
    EXPECT_TRUE(SUCCEEDED(MFCreateMemoryBuffer(16, &buffer)));
    buffer->SetCurrentLength(16);
    created->AddBuffer(buffer.Get());
    created->SetSampleTime(time);
    created->SetSampleDuration(333333);
    return wrapMfSample(created);
}

class MfWriterFailures : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!mediaFoundationAvailable(reason)) GTEST_SKIP() << reason;
        ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL)));
        file = std::filesystem::temp_directory_path() / "desktracks-mf-writer-test.mp4";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        MFShutdown();
    }
    // What the sink left in the file: an ordinary file's index, or a fragment.
    void leaveFile(const char* box) {
        std::ofstream out(file, std::ios::binary);
        out.write("\0\0\0\x08", 4);
        out.write(box, 4);
    }
    std::unique_ptr<SinkWriter> wrap(uint32_t keyFrameSpacing = 0) {
        return wrapMfSinkWriter(ComPtr<IMFSinkWriter>(&scripted), file.wstring(), keyFrameSpacing);
    }
    // Samples until the first refused one; how many went in.
    int writeUntilRefused(SinkWriter& writer, int samples) {
        int written = 0;
        for (; written < samples; ++written) {
            if (FAILED(writer.writeSample(0, sample(written * 333333)))) break;
        }
        return written;
    }

    ScriptedSinkWriter scripted;
    std::filesystem::path file;
};

TEST_F(MfWriterFailures, AFullDiskIsSaidOnceWhetherWriteSampleOrFinalizeReportsIt) {
    struct Case {
        const char* what;
        std::deque<HRESULT> writes;
        HRESULT finalize;
        int written;
    } const cases[] = {
        {"WriteSample", {S_OK, S_OK, S_OK, diskFull}, S_OK, 3},
        {"WriteSample, then Finalize", {S_OK, diskFull}, diskFull, 1},
        {"Finalize", {}, diskFull, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripted.writes = c.writes;
        scripted.finalizeResult = c.finalize;
        leaveFile("moov");
        std::unique_ptr<SinkWriter> writer = wrap();
        ASSERT_TRUE(SUCCEEDED(writer->beginWriting()));
        EXPECT_EQ(writeUntilRefused(*writer, 5), c.written);
        EXPECT_TRUE(failed(writer->finalize()));
        const std::string reason = writer->writeFailure();
        EXPECT_NE(reason.find("(0x80070070)"), std::string::npos) << reason;
        EXPECT_NE(reason, "0x80070070") << "the system's words come first";
        const VideoFileLines lines = videoFileLines(*writer, "output.mp4", false);
        EXPECT_EQ(lines.error, "output.mp4 could not be written to the end (" + reason + "); it holds the video up to the failure");
        EXPECT_EQ(lines.warning, "");
    }
}

TEST_F(MfWriterFailures, AnOrdinaryFileNeedsNoFinishingAndSaysNothing) {
    leaveFile("moov");
    std::unique_ptr<SinkWriter> writer = wrap();
    ASSERT_TRUE(SUCCEEDED(writer->beginWriting()));
    EXPECT_EQ(writeUntilRefused(*writer, 3), 3);
    EXPECT_TRUE(SUCCEEDED(writer->finalize()));
    const VideoFileLines lines = videoFileLines(*writer, "output.mp4", false);
    EXPECT_EQ(lines.error + lines.warning, "");
}

// A fragmented file that cannot be made ordinary stays as written and is said so.
TEST_F(MfWriterFailures, AFragmentedFileThatCannotBeFinishedIsSaid) {
    leaveFile("moof");
    std::unique_ptr<SinkWriter> writer = wrap();
    ASSERT_TRUE(SUCCEEDED(writer->beginWriting()));
    writeUntilRefused(*writer, 2);
    EXPECT_TRUE(failed(writer->finalize()));
    EXPECT_EQ(writer->writeFailure(), "");
    const VideoFileLines lines = videoFileLines(*writer, "output.mp4", false);
    EXPECT_EQ(lines.error.rfind("output.mp4 could not be made an ordinary MP4 (", 0), 0u) << lines.error;
}

// Key frames at most a second apart bound the fragments: the output type says so, and the encoder
// is asked through ICodecAPI (CODECAPI_AVEncMPVGOPSize) when it offers it.
TEST_F(MfWriterFailures, TheKeyFrameSpacingReachesTheEncoder) {
    leaveFile("moov");
    std::unique_ptr<SinkWriter> writer = wrap(30);
    VideoMediaType type;
    type.width = 64, type.height = 48, type.frameRateNumerator = 30, type.averageBitrate = 1000000;
    uint32_t index = 0;
    ASSERT_TRUE(SUCCEEDED(writer->addStream(type, index)));
    type.subtype = VideoSubtype::rgb32;
    ASSERT_TRUE(SUCCEEDED(writer->setInputMediaType(index, type)));
    EXPECT_EQ(scripted.keyFrameSpacing, 30u);
    EXPECT_TRUE(scripted.codecAsked);
}

// The colour converter is registered for the whole process: every camera and every recording
// shares that one registration, and it lasts until the last of them lets it go.
TEST_F(MfWriterFailures, TheColourConverterStaysRegisteredUntilItsLastHolderGoes) {
    // How many video processors of that class this process can find: the system's and its own.
    const auto converters = [] {
        IMFActivate** found = nullptr;
        UINT32 count = 0;
        if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_PROCESSOR, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT, nullptr, nullptr,
                             &found, &count))) {
            return -1;
        }
        int converters = 0;
        for (UINT32 i = 0; i < count; ++i) {
            GUID clsid{};
            if (SUCCEEDED(found[i]->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid)) && clsid == __uuidof(CColorConvertDMO)) {
                ++converters;
            }
            found[i]->Release();
        }
        CoTaskMemFree(found);
        return converters;
    };
    const int system = converters();
    ASSERT_GE(system, 0);
    {
        ColourConverterRegistration firstCamera;
        ColourConverterRegistration secondCamera;
        ASSERT_TRUE(SUCCEEDED(firstCamera.acquire()));
        ASSERT_TRUE(SUCCEEDED(firstCamera.acquire()));  // a reopened camera's writer
        ASSERT_TRUE(SUCCEEDED(secondCamera.acquire()));
        EXPECT_EQ(converters(), system + 1) << "one registration for the process";
        firstCamera.release();
        EXPECT_EQ(converters(), system + 1) << "the second camera still has it";
    }
    EXPECT_EQ(converters(), system);
    EXPECT_EQ(MFTUnregisterLocalByCLSID(__uuidof(CColorConvertDMO)), HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) << "nothing left registered";
}

}  // namespace
