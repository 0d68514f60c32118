// Cost of reading the whole desktop once, through the platform layer as the screen track does
// (copy into the staging image, then map it): prints milliseconds per grab and this process's
// CPU milliseconds per grab. Run it on a display with and without MIT-SHM (bench/screen/grab.sh).
//   grab_bench <grabs>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/video_capture.h"

namespace {

double cpuMillis() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
    const int grabs = argc > 1 ? std::atoi(argv[1]) : 200;
    std::unique_ptr<VideoCapturePlatform> platform = createVideoCapturePlatform();
    std::unique_ptr<VideoFactory> factory;
    std::unique_ptr<VideoAdapter> adapter;
    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    std::unique_ptr<DesktopDuplication> duplication;
    std::unique_ptr<VideoTexture> staging;
    uint32_t level = 0;
    DuplicationStep step{};
    if (platform->createFactory(factory) != hresult::ok || factory->enumAdapters(0, adapter) != hresult::ok ||
        platform->createDevice(*adapter, device, context, level) != hresult::ok ||
        device->duplicateOutput0(duplication, step) != hresult::ok ||
        device->createTexture(TextureKind::staging, duplication->mode(), staging) != hresult::ok || !staging) {
        std::fprintf(stderr, "cannot duplicate the desktop: %s\n", platform->failureReason().c_str());
        return 1;
    }
    const bool plain = !platform->captureNotes().empty();
    std::unique_ptr<DesktopResource> resource;
    if (duplication->acquireNextFrame(0, resource) != hresult::ok) return 1;
    std::unique_ptr<VideoTexture> desktop = resource->queryTexture();
    uint64_t checksum = 0;
    const auto started = std::chrono::steady_clock::now();
    const double cpuStarted = cpuMillis();
    for (int i = 0; i < grabs; ++i) {
        context->copyResource(*staging, *desktop);
        MappedImage image;
        if (context->map(*staging, image) != hresult::ok) return 1;
        checksum += image.data[static_cast<size_t>(i) * 4096 % (image.rowPitch * 16)];
        context->unmap(*staging);
    }
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    const DuplicationMode mode = duplication->mode();
    std::printf("%s %ux%u: %.2f ms per grab, %.2f CPU ms per grab (checksum %llu)\n", plain ? "xgetimage" : "mitshm", mode.width,
                mode.height, wall / grabs, (cpuMillis() - cpuStarted) / grabs, static_cast<unsigned long long>(checksum));
    return 0;
}
