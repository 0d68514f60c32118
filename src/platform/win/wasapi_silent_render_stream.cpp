#include "platform/silent_render_stream.h"

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// Joins the calling thread to a single-threaded apartment and leaves it again, if joining worked.
class ComApartment {
public:
    ComApartment() : initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised;
};

struct CoTaskMemFreer {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

class WasapiSilentRenderStream final : public SilentRenderStream {
public:
    StreamStatus createEnumerator() override {
        return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator.GetAddressOf()));
    }

    StreamStatus openDefaultEndpoint() override {
        return enumerator->GetDefaultAudioEndpoint(eRender, eConsole, endpoint.GetAddressOf());
    }

    StreamStatus activateClient() override {
        return endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(client.GetAddressOf()));
    }

    StreamStatus getMixFormat(StreamMixFormat& format) override {
        WAVEFORMATEX* block = nullptr;
        const HRESULT hr = client->GetMixFormat(&block);
        if (FAILED(hr)) return hr;
        mixFormat.reset(block);
        format.framesPerSecond = block->nSamplesPerSec;
        format.channels = block->nChannels;
        format.bitsPerSample = block->wBitsPerSample;
        return hr;
    }

    StreamStatus initialize(int64_t bufferDuration100ns) override {
        return client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, bufferDuration100ns, 0, mixFormat.get(), nullptr);
    }

    StreamStatus getRenderClient() override {
        return client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(renderClient.GetAddressOf()));
    }

    StreamStatus getBuffer(uint32_t frames, uint8_t** data) override {
        BYTE* buffer = nullptr;
        const HRESULT hr = renderClient->GetBuffer(frames, &buffer);
        *data = buffer;
        return hr;
    }

    StreamStatus releaseBufferSilent(uint32_t frames) override {
        return renderClient->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT);
    }

    StreamStatus start() override { return client->Start(); }

    StreamStatus currentPadding(uint32_t& frames) override {
        UINT32 padding = 0;
        const HRESULT hr = client->GetCurrentPadding(&padding);
        frames = padding;
        return hr;
    }

private:
    // Destroyed bottom-up: render client, mix format, client, endpoint, enumerator, then the
    // apartment they live in.
    ComApartment apartment;
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> endpoint;
    ComPtr<IAudioClient> client;
    std::unique_ptr<WAVEFORMATEX, CoTaskMemFreer> mixFormat;
    ComPtr<IAudioRenderClient> renderClient;
};

}  // namespace

std::unique_ptr<SilentRenderStream> makeSilentRenderStream() { return std::make_unique<WasapiSilentRenderStream>(); }
