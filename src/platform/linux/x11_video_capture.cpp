#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/x11_connection.h"
#include "platform/linux/x11_desktop_duplication.h"
#include "platform/linux/x11_outputs.h"
#include "platform/linux/x11_session.h"
#include "platform/video_capture.h"

// The X11 stand-in for DXGI: an adapter is an X screen, its outputs are the RandR outputs that
// drive part of the desktop, the device reads the desktop through MIT-SHM (or plain XGetImage
// where the server cannot share memory with us).
namespace {

// What the capture found out about this X server, for the recorder's lines.
struct X11CaptureReport {
    std::string failure;      // why the last step failed, in X11's terms
    bool plainImages = false;  // no shared memory with the server
    bool noDamage = false;
    bool noticed = false;      // the notes below were worked out
    std::string partial;       // why only part of the screen is visible
};

class X11Adapter : public VideoAdapter {
public:
    X11Adapter(std::shared_ptr<X11Connection> connection, int screen) : connection(std::move(connection)), screen(screen) {}

    HResult describe(AdapterDescription& description) override {
        Display* dpy = connection->display();
        // X reports no graphics memory sizes; they stay 0.
        description = AdapterDescription{};
        description.description = std::string("X11 screen ") + std::to_string(screen) + " of " + DisplayString(dpy) + " (" +
                                  ServerVendor(dpy) + " " + std::to_string(VendorRelease(dpy)) + ")";
        return hresult::ok;
    }

    HResult describeOutput(uint32_t index, OutputDescription& description) override {
        const std::vector<X11Output> outputs = activeOutputs(connection->display(), screen);
        if (index >= outputs.size()) return hresult::notFound;
        const X11Output& output = outputs[index];
        description.deviceName = output.name;
        description.left = output.rect.x;
        description.top = output.rect.y;
        description.right = output.rect.x + static_cast<int32_t>(output.rect.width);
        description.bottom = output.rect.y + static_cast<int32_t>(output.rect.height);
        description.attachedToDesktop = true;
        description.primary = output.primary;
        description.scale = 1.0;  // X reports no per-monitor scale; toolkits scale on their own
        return hresult::ok;
    }

    const std::shared_ptr<X11Connection> connection;
    const int screen;
};

class X11Factory : public VideoFactory {
public:
    explicit X11Factory(std::shared_ptr<X11Connection> connection) : connection(std::move(connection)) {}

    HResult enumAdapters(uint32_t index, std::unique_ptr<VideoAdapter>& adapter) override {
        adapter.reset();
        if (index >= static_cast<uint32_t>(ScreenCount(connection->display()))) return hresult::notFound;
        adapter = std::make_unique<X11Adapter>(connection, static_cast<int>(index));
        return hresult::ok;
    }
    // X has no notion of a high-performance adapter.
    bool supportsGpuPreference() override { return false; }
    HResult enumAdapterByHighPerformance(uint32_t, std::unique_ptr<VideoAdapter>& adapter) override {
        adapter.reset();
        return hresult::notImplemented;
    }

private:
    std::shared_ptr<X11Connection> connection;
};

bool isFourByteBgr(Display* dpy, int screen) {
    const Visual* visual = DefaultVisual(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    int count = 0;
    bool thirtyTwoBits = false;
    if (XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count)) {
        for (int i = 0; i < count; ++i) {
            if (formats[i].depth == depth && formats[i].bits_per_pixel == 32) thirtyTwoBits = true;
        }
        XFree(formats);
    }
    return thirtyTwoBits && ImageByteOrder(dpy) == LSBFirst && visual->red_mask == 0xff0000 &&
           visual->green_mask == 0xff00 && visual->blue_mask == 0xff;
}

class X11Device : public VideoDevice {
public:
    X11Device(std::shared_ptr<X11Connection> connection, int screen, std::shared_ptr<X11CaptureReport> report)
        : connection(std::move(connection)), screen(screen), report(std::move(report)) {}

    HResult duplicateOutput0(std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        return duplicateOutput(0, duplication, failedStep);
    }

    HResult duplicateOutput(uint32_t index, std::unique_ptr<DesktopDuplication>& duplication, DuplicationStep& failedStep) override {
        duplication.reset();
        Display* dpy = connection->display();
        report->failure.clear();
        if (connection->lost()) {
            failedStep = DuplicationStep::deviceQuery;
            report->failure = std::string("the connection to the X server \"") + DisplayString(dpy) + "\" was lost";
            return hresult::accessLost;
        }
        const std::vector<X11Output> outputs = activeOutputs(dpy, screen);
        if (index >= outputs.size()) {
            failedStep = DuplicationStep::enumOutputs;
            report->failure = "the X screen has no active output";
            return hresult::notFound;
        }
        failedStep = DuplicationStep::duplicateOutput;
        if (!isFourByteBgr(dpy, screen)) {
            report->failure = visualReason(dpy, screen);
            return hresult::notImplemented;
        }
        const HResult created = X11DesktopDuplication::create(connection, screen, outputs[index].rect, duplication);
        if (failed(created)) {
            report->failure = std::string("the X server \"") + DisplayString(dpy) + "\" refused to watch the root window";
        } else if (!report->noticed) {
            report->noticed = true;
            // Shared memory is tried when the first staging image is made.
            sharedMemory = XShmQueryExtension(dpy) != False;
            report->plainImages = !sharedMemory;
            int event = 0;
            int error = 0;
            report->noDamage = !XDamageQueryExtension(dpy, &event, &error);
            report->partial = waylandPartialReason(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"),
                                                   isXwaylandServer(dpy));
        }
        return created;
    }

    HResult createTexture(TextureKind kind, const DuplicationMode& mode, std::unique_ptr<VideoTexture>& texture) override {
        texture.reset();
        if (mode.width == 0 || mode.height == 0) return hresult::invalidArgument;
        if (kind == TextureKind::gdiRenderTarget) {
            texture = std::make_unique<X11RenderTarget>();
            return hresult::ok;
        }
        const HResult created = X11SharedImage::create(connection, mode.width, mode.height, sharedMemory, texture);
        if (!sharedMemory) report->plainImages = true;
        if (created == hresult::outOfMemory) report->failure = "no memory for a staging image of the screen's size";
        return created;
    }

private:
    std::shared_ptr<X11Connection> connection;
    int screen;
    std::shared_ptr<X11CaptureReport> report;
    bool sharedMemory = true;
};

class X11Context : public VideoContext {
public:
    void copyResource(VideoTexture& destination, VideoTexture& source) override {
        auto* image = dynamic_cast<X11SharedImage*>(&destination);
        auto* desktop = dynamic_cast<X11DesktopTexture*>(&source);
        if (image != nullptr && desktop != nullptr) image->grab(*desktop);
    }

    void copyRegion(VideoTexture& destination, VideoTexture& source, const ImageRect& rect) override {
        auto* image = dynamic_cast<X11SharedImage*>(&destination);
        auto* desktop = dynamic_cast<X11DesktopTexture*>(&source);
        if (image != nullptr && desktop != nullptr) image->grabPart(*desktop, rect);
    }

    HResult map(VideoTexture& texture, MappedImage& mapped) override {
        auto* image = dynamic_cast<X11SharedImage*>(&texture);
        if (image == nullptr || !image->holdsImage()) return hresult::fail;
        mapped.data = reinterpret_cast<const uint8_t*>(image->image()->data);
        mapped.rowPitch = static_cast<uint32_t>(image->image()->bytes_per_line);
        return hresult::ok;
    }

    void unmap(VideoTexture&) override {}
};

class X11VideoCapturePlatform : public VideoCapturePlatform {
public:
    HResult createFactory(std::unique_ptr<VideoFactory>& factory) override {
        factory.reset();
        report->failure.clear();
        std::shared_ptr<X11Connection> connection = X11Connection::open();
        if (!connection) {
            report->failure = noDisplayReason(std::getenv("DISPLAY"));
            return hresult::fail;
        }
        factory = std::make_unique<X11Factory>(std::move(connection));
        return hresult::ok;
    }

    HResult createDevice(VideoAdapter& adapter, std::unique_ptr<VideoDevice>& device, std::unique_ptr<VideoContext>& context,
                         uint32_t& featureLevel) override {
        auto* x11Adapter = dynamic_cast<X11Adapter*>(&adapter);
        if (x11Adapter == nullptr) return hresult::invalidArgument;
        device = std::make_unique<X11Device>(x11Adapter->connection, x11Adapter->screen, report);
        context = std::make_unique<X11Context>();
        featureLevel = 0;  // X has no Direct3D feature levels
        return hresult::ok;
    }

    std::string messageText(HResult result) override {
        switch (result) {
            case hresult::notImplemented: return "The desktop's pixel format is not 32-bit BGR.";
            case hresult::notFound: return "No output found.";
            case hresult::accessLost: return "The X server connection was lost.";
            default: return "The X server refused the request.";
        }
    }

    std::string failureReason() override { return report->failure; }

    std::vector<CaptureNote> captureNotes() override {
        std::vector<CaptureNote> notes;
        if (report->plainImages) {
            notes.push_back({false, "the X server shares no memory with this process (no MIT-SHM extension, or a display on "
                                    "another machine): the screen is read with plain XGetImage, which costs more"});
        }
        if (report->noDamage) {
            notes.push_back({false, "the X server has no DAMAGE extension: every pass reads the whole screen"});
        }
        if (!report->partial.empty()) notes.push_back({true, report->partial});
        return notes;
    }

private:
    std::shared_ptr<X11CaptureReport> report = std::make_shared<X11CaptureReport>();
};

}  // namespace

std::unique_ptr<VideoCapturePlatform> createVideoCapturePlatform() { return std::make_unique<X11VideoCapturePlatform>(); }
