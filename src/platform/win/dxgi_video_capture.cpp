#include <windows.h>
#include <d3d11.h>
#include <dxgi1_6.h>
#include <wrl/client.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/mode_orientation.h"
#include "platform/thread_dpi.h"
#include "platform/video_capture.h"
#include "platform/win/dxgi_duplication.h"
#include "platform/win/dxgi_pointer_shape.h"

// Desktop duplication on Direct3D 11 and DXGI.
namespace {

using Microsoft::WRL::ComPtr;

// UTF-8 of a DXGI name, at most 255 bytes; a longer text is cut at a character boundary.
std::string toUtf8(const WCHAR* text) {
    char buffer[256] = {};
    const int written = WideCharToMultiByte(65001, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (written > 0) return std::string(buffer);
    const int needed = WideCharToMultiByte(65001, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::vector<char> whole(static_cast<size_t>(needed));
    WideCharToMultiByte(65001, 0, text, -1, whole.data(), needed, nullptr, nullptr);
    // The first call can fail for another reason than a short buffer: never past the text's end.
    size_t length = std::min(sizeof buffer - 1, static_cast<size_t>(needed - 1));
    while (length > 0 && (static_cast<unsigned char>(whole[length]) & 0xC0) == 0x80) --length;
    return std::string(whole.data(), length);
}

class D3dTexture : public VideoTexture {
public:
    explicit D3dTexture(ComPtr<ID3D11Texture2D> texture) : texture(std::move(texture)) {}
    bool describe(DuplicationMode& description) override {
        D3D11_TEXTURE2D_DESC desc{};
        texture->GetDesc(&desc);
        description = {desc.Width, desc.Height, static_cast<uint32_t>(desc.Format), 0};
        return true;
    }
    ComPtr<ID3D11Texture2D> texture;
};

uint32_t rotationDegrees(DXGI_MODE_ROTATION rotation) {
    switch (rotation) {
        case DXGI_MODE_ROTATION_ROTATE90: return 90;
        case DXGI_MODE_ROTATION_ROTATE180: return 180;
        case DXGI_MODE_ROTATION_ROTATE270: return 270;
        default: return 0;
    }
}

// The monitor's effective scale (GetDpiForMonitor, Windows 8.1 and later). shcore.dll comes from
// System32 only and stays loaded: loading it for every output made listing the displays slow.
double monitorScale(HMONITOR monitor) {
    using GetDpi = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const GetDpi getDpi = []() -> GetDpi {
        HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shcore != nullptr ? reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor"))) : nullptr;
    }();
    UINT dpiX = 0;
    UINT dpiY = 0;
    constexpr int effectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (getDpi == nullptr || FAILED(getDpi(monitor, effectiveDpi, &dpiX, &dpiY)) || dpiX == 0) return 1.0;
    return dpiX / 96.0;
}

void copyOutputDescription(const DXGI_OUTPUT_DESC& desc, OutputDescription& description) {
    description.deviceName = toUtf8(desc.DeviceName);
    description.left = desc.DesktopCoordinates.left;
    description.top = desc.DesktopCoordinates.top;
    description.right = desc.DesktopCoordinates.right;
    description.bottom = desc.DesktopCoordinates.bottom;
    description.attachedToDesktop = desc.AttachedToDesktop != 0;
}

class DxgiDesktopResource : public DesktopResource {
public:
    explicit DxgiDesktopResource(ComPtr<IDXGIResource> resource) : resource(std::move(resource)) {}
    std::unique_ptr<VideoTexture> queryTexture() override {
        ComPtr<ID3D11Texture2D> texture;
        if (FAILED(resource.As(&texture)) || !texture) return nullptr;
        return std::make_unique<D3dTexture>(std::move(texture));
    }

private:
    ComPtr<IDXGIResource> resource;
};

class DxgiDuplication : public DesktopDuplication {
public:
    DxgiDuplication(ComPtr<IDXGIOutputDuplication> duplication, const DXGI_OUTPUT_DESC& output)
        : duplication(std::move(duplication)), output(output) {
        this->duplication->GetDesc(&description);
        const RECT& desktop = output.DesktopCoordinates;
        if (desktop.right > desktop.left && desktop.bottom > desktop.top) desktopIsPortrait = desktop.bottom - desktop.top > desktop.right - desktop.left;
    }
    bool describeOutput(OutputDescription& described) override {
        if (output.DeviceName[0] == 0) return false;
        copyOutputDescription(output, described);
        return true;
    }
    // The mode as the user sees the desktop, while the frames stay unrotated.
    DuplicationMode mode() override {
        uint32_t width = description.ModeDesc.Width;
        uint32_t height = description.ModeDesc.Height;
        const uint32_t rotation = rotationDegrees(description.Rotation);
        orientModeSize(width, height, rotation, desktopIsPortrait);
        return {width, height, static_cast<uint32_t>(description.ModeDesc.Format), rotation};
    }
    HResult acquireNextFrame(uint32_t timeoutMillis, std::unique_ptr<DesktopResource>& resource) override {
        resource.reset();
        frameInfo = DXGI_OUTDUPL_FRAME_INFO{};
        ComPtr<IDXGIResource> desktop;
        const HRESULT result = duplication->AcquireNextFrame(timeoutMillis, &frameInfo, &desktop);
        if (SUCCEEDED(result) && desktop) resource = std::make_unique<DxgiDesktopResource>(std::move(desktop));
        return result;
    }
    HResult releaseFrame() override { return duplication->ReleaseFrame(); }

    // The move and dirty rectangles of the frame, in the frame's unrotated pixels (the recorder
    // turns them with the image). A move's destination counts as changed like a dirty rectangle:
    // its pixels are copied from the frame's image, which already shows the move.
    bool changedRects(std::vector<ImageRect>& rects) override {
        rects.clear();
        if (frameInfo.LastPresentTime.QuadPart == 0) return true;  // only the pointer changed
        if (frameInfo.TotalMetadataBufferSize == 0) return false;
        metadata.resize(frameInfo.TotalMetadataBufferSize);
        UINT movesSize = 0;
        if (FAILED(duplication->GetFrameMoveRects(static_cast<UINT>(metadata.size()), reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(metadata.data()),
                                                  &movesSize))) {
            return false;
        }
        const auto* moves = reinterpret_cast<const DXGI_OUTDUPL_MOVE_RECT*>(metadata.data());
        for (UINT i = 0; i < movesSize / sizeof(DXGI_OUTDUPL_MOVE_RECT); ++i) {
            const RECT& to = moves[i].DestinationRect;
            rects.push_back({to.left, to.top, to.right, to.bottom});
        }
        // The dirty rectangles go after the moves, in the rest of the buffer.
        UINT dirtySize = 0;
        if (FAILED(duplication->GetFrameDirtyRects(static_cast<UINT>(metadata.size() - movesSize),
                                                   reinterpret_cast<RECT*>(metadata.data() + movesSize), &dirtySize))) {
            return false;
        }
        const auto* dirty = reinterpret_cast<const RECT*>(metadata.data() + movesSize);
        for (UINT i = 0; i < dirtySize / sizeof(RECT); ++i) rects.push_back({dirty[i].left, dirty[i].top, dirty[i].right, dirty[i].bottom});
        return true;
    }

    bool newPointerShape(PointerShape& shape) override { return readPointerShape(*duplication.Get(), frameInfo, shape); }

private:
    ComPtr<IDXGIOutputDuplication> duplication;
    DXGI_OUTDUPL_DESC description{};
    DXGI_OUTPUT_DESC output{};              // empty when it could not be read
    std::optional<bool> desktopIsPortrait;  // none when the output's rectangle could not be read
    DXGI_OUTDUPL_FRAME_INFO frameInfo{};
    std::vector<uint8_t> metadata;
};

class DxgiAdapter : public VideoAdapter {
public:
    explicit DxgiAdapter(ComPtr<IDXGIAdapter1> adapter) : adapter(std::move(adapter)) {}
    HResult describe(AdapterDescription& description) override {
        DXGI_ADAPTER_DESC1 desc{};
        const HRESULT result = adapter->GetDesc1(&desc);
        if (FAILED(result)) return result;
        description.description = toUtf8(desc.Description);
        description.dedicatedVideoMemory = desc.DedicatedVideoMemory;
        description.dedicatedSystemMemory = desc.DedicatedSystemMemory;
        description.sharedSystemMemory = desc.SharedSystemMemory;
        description.luid = (static_cast<uint64_t>(static_cast<uint32_t>(desc.AdapterLuid.HighPart)) << 32) | desc.AdapterLuid.LowPart;
        return result;
    }
    HResult describeOutput(uint32_t index, OutputDescription& description) override {
        const PhysicalPixelsOnThisThread physicalPixels;  // GetDesc answers in the thread's awareness
        ComPtr<IDXGIOutput> output;
        HRESULT result = adapter->EnumOutputs(index, &output);
        if (FAILED(result)) return result;
        DXGI_OUTPUT_DESC desc{};
        result = output->GetDesc(&desc);
        if (FAILED(result)) return result;
        copyOutputDescription(desc, description);
        // The primary display is the one at the desktop's origin.
        description.primary = desc.Monitor != nullptr && desc.Monitor == MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        description.scale = desc.Monitor != nullptr ? monitorScale(desc.Monitor) : 1.0;
        return result;
    }
    ComPtr<IDXGIAdapter1> adapter;
};

class DxgiFactory : public VideoFactory {
public:
    explicit DxgiFactory(ComPtr<IDXGIFactory1> factory) : factory(std::move(factory)) { this->factory.As(&factory6); }
    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        adapter.reset();
        ComPtr<IDXGIAdapter1> found;
        const HRESULT result = factory->EnumAdapters1(index, &found);
        if (SUCCEEDED(result)) adapter = std::make_unique<DxgiAdapter>(std::move(found));
        return result;
    }
    bool supportsGpuPreference() override { return factory6 != nullptr; }
    HResult enumAdapterByHighPerformance(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        adapter.reset();
        if (!factory6) return E_NOINTERFACE;
        ComPtr<IDXGIAdapter1> found;
        const HRESULT result = factory6->EnumAdapterByGpuPreference(index, DXGI_GPU_PREFERENCE_HIGH_PERFORMANCE, IID_PPV_ARGS(&found));
        if (SUCCEEDED(result)) adapter = std::make_unique<DxgiAdapter>(std::move(found));
        return result;
    }

private:
    ComPtr<IDXGIFactory1> factory;
    ComPtr<IDXGIFactory6> factory6;
};

class D3dDevice : public VideoDevice {
public:
    explicit D3dDevice(ComPtr<ID3D11Device> device) : device(std::move(device)) {}

    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        return duplicateOutput(0, duplication, failedStep);
    }

    HResult duplicateOutput(uint32_t index, std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        duplication.reset();
        const auto stopAt = [&failedStep](DuplicationStep step, HRESULT result) {
            failedStep = step;
            return result;
        };
        ComPtr<IDXGIDevice> dxgiDevice;
        HRESULT result = device.As(&dxgiDevice);
        if (FAILED(result)) return stopAt(DuplicationStep::deviceQuery, result);
        ComPtr<IDXGIAdapter> adapter;
        result = dxgiDevice->GetParent(IID_PPV_ARGS(&adapter));
        if (FAILED(result)) return stopAt(DuplicationStep::adapterParent, result);
        ComPtr<IDXGIOutput> output;
        result = adapter->EnumOutputs(index, &output);
        if (FAILED(result)) return stopAt(DuplicationStep::enumOutputs, result);
        ComPtr<IDXGIOutput1> output1;
        result = output.As(&output1);
        if (FAILED(result) || !output1) return stopAt(DuplicationStep::output1Query, FAILED(result) ? result : E_NOINTERFACE);
        ComPtr<IDXGIOutputDuplication> created;
        result = output1->DuplicateOutput(device.Get(), &created);
        if (FAILED(result)) return stopAt(DuplicationStep::duplicateOutput, result);
        DXGI_OUTPUT_DESC desc{};
        {
            const PhysicalPixelsOnThisThread physicalPixels;
            if (FAILED(output->GetDesc(&desc))) desc = DXGI_OUTPUT_DESC{};
        }
        duplication = std::make_unique<DxgiDuplication>(std::move(created), desc);
        return result;
    }

    HResult createTexture(TextureKind kind, const DuplicationMode& mode, std::unique_ptr<VideoTexture>& texture) override {
        texture.reset();
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = mode.width;
        desc.Height = mode.height;
        desc.Format = static_cast<DXGI_FORMAT>(mode.format);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.SampleDesc.Count = 1;
        desc.SampleDesc.Quality = 0;
        if (kind == TextureKind::gdiRenderTarget) {
            desc.Usage = D3D11_USAGE_DEFAULT;
            desc.BindFlags = D3D11_BIND_RENDER_TARGET;
            desc.CPUAccessFlags = 0;
            desc.MiscFlags = D3D11_RESOURCE_MISC_GDI_COMPATIBLE;
        } else {
            desc.Usage = D3D11_USAGE_STAGING;
            desc.BindFlags = 0;
            desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
            desc.MiscFlags = 0;
        }
        ComPtr<ID3D11Texture2D> created;
        const HRESULT result = device->CreateTexture2D(&desc, nullptr, &created);
        if (SUCCEEDED(result) && created) texture = std::make_unique<D3dTexture>(std::move(created));
        return result;
    }

    HResult removedReason() override { return device->GetDeviceRemovedReason(); }

private:
    ComPtr<ID3D11Device> device;
};

class D3dContext : public VideoContext {
public:
    explicit D3dContext(ComPtr<ID3D11DeviceContext> context) : context(std::move(context)) {}
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        context->CopyResource(static_cast<D3dTexture&>(destination).texture.Get(), static_cast<D3dTexture&>(source).texture.Get());
    }
    void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& rect) override {
        const D3D11_BOX box{static_cast<UINT>(rect.left), static_cast<UINT>(rect.top), 0, static_cast<UINT>(rect.right),
                            static_cast<UINT>(rect.bottom), 1};
        context->CopySubresourceRegion(static_cast<D3dTexture&>(destination).texture.Get(), 0, box.left, box.top, 0,
                                       static_cast<D3dTexture&>(source).texture.Get(), 0, &box);
    }
    HResult map(VideoTexture& texture, MappedImage& image) override {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        const HRESULT result = context->Map(static_cast<D3dTexture&>(texture).texture.Get(), 0, D3D11_MAP_READ_WRITE, 0, &mapped);
        if (FAILED(result)) return result;
        image.data = static_cast<const uint8_t*>(mapped.pData);
        image.rowPitch = mapped.RowPitch;
        return result;
    }
    void unmap(VideoTexture& texture) override { context->Unmap(static_cast<D3dTexture&>(texture).texture.Get(), 0); }

private:
    ComPtr<ID3D11DeviceContext> context;
};

class DxgiVideoCapturePlatform : public VideoCapturePlatform {
    static HResult create(VideoAdapter& adapter, UINT flags, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                          uint32_t& featureLevel) {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0};
        ComPtr<ID3D11Device> createdDevice;
        ComPtr<ID3D11DeviceContext> createdContext;
        D3D_FEATURE_LEVEL obtained{};
        // With an adapter the driver type must be UNKNOWN.
        const HRESULT result = D3D11CreateDevice(static_cast<DxgiAdapter&>(adapter).adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, flags,
                                                 levels, 4, D3D11_SDK_VERSION, &createdDevice, &obtained, &createdContext);
        if (FAILED(result)) return result;
        device = std::make_unique<D3dDevice>(std::move(createdDevice));
        context = std::make_unique<D3dContext>(std::move(createdContext));
        featureLevel = static_cast<uint32_t>(obtained);
        return result;
    }

public:
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override {
        factory.reset();
        ComPtr<IDXGIFactory1> created;
        const HRESULT result = CreateDXGIFactory1(IID_PPV_ARGS(&created));
        if (SUCCEEDED(result)) factory = std::make_unique<DxgiFactory>(std::move(created));
        return result;
    }

    HResult createDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                         uint32_t& featureLevel) override {
        return create(adapter, D3D11_CREATE_DEVICE_VIDEO_SUPPORT, device, context, featureLevel);
    }

    HResult createPlainDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                              uint32_t& featureLevel) override {
        return create(adapter, 0, device, context, featureLevel);
    }

    std::string messageText(HResult result) override {
        char* text = nullptr;
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            static_cast<DWORD>(result), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                            reinterpret_cast<LPSTR>(&text), 0, nullptr);
        std::string message = (length > 0 && text != nullptr) ? std::string(text, length) : std::string();
        if (text != nullptr) LocalFree(text);
        return message;
    }
};

}  // namespace

std::unique_ptr<VideoCapturePlatform> createVideoCapturePlatform() { return std::make_unique<DxgiVideoCapturePlatform>(); }

std::unique_ptr<DesktopDuplication> wrapOutputDuplication(ComPtr<IDXGIOutputDuplication> duplication) {
    return std::make_unique<DxgiDuplication>(std::move(duplication), DXGI_OUTPUT_DESC{});
}
