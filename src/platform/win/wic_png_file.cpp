#include "platform/png_file.h"

#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// COM for the calling thread, for as long as this lives (a thread that already has it keeps it).
class ComScope {
public:
    ComScope() : result(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result;
};

std::string failed(const char* step, HRESULT hr) {
    char text[96];
    wsprintfA(text, "%s failed (0x%08X)", step, static_cast<unsigned>(hr));
    return text;
}

}  // namespace

// The Windows Imaging Component's PNG encoder, fed 32-bit BGRA with straight alpha.
bool writePngFile(const std::filesystem::path& path, int32_t width, int32_t height, const uint8_t* rgba,
                  std::string& reason) {
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (FAILED(hr)) return reason = failed("creating the imaging factory", hr), false;
    ComPtr<IWICStream> stream;
    if (FAILED(hr = factory->CreateStream(&stream))) return reason = failed("CreateStream", hr), false;
    if (FAILED(hr = stream->InitializeFromFilename(path.wstring().c_str(), GENERIC_WRITE))) {
        return reason = failed("opening the file", hr), false;
    }
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) {
        return reason = failed("creating the PNG encoder", hr), false;
    }
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(hr = encoder->CreateNewFrame(&frame, nullptr)) || FAILED(hr = frame->Initialize(nullptr)) ||
        FAILED(hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
        return reason = failed("creating the image", hr), false;
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(hr = frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppBGRA) {
        return reason = failed("choosing 32-bit BGRA", FAILED(hr) ? hr : E_FAIL), false;
    }
    std::vector<uint8_t> bgra(rgba, rgba + static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(hr = frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height), bgra.data())) ||
        FAILED(hr = frame->Commit()) || FAILED(hr = encoder->Commit())) {
        return reason = failed("writing the image", hr), false;
    }
    return true;
}
