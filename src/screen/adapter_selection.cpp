#include <cstdint>

#include "screen/screen_log.h"
#include "screen/screen_recorder.h"
#include "track_events.h"

HResult ScreenRecorder::logAdapters(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    std::unique_ptr<VideoFactory> factory;
    const HResult created = capture.createFactory(factory);
    if (failed(created) || !factory) {
        log.error("Failed to create DXGIFactory1");
        return failed(created) ? created : hresult::fail;
    }
    for (uint64_t adapterIndex = 0;; ++adapterIndex) {
        std::unique_ptr<VideoAdapter> adapter;
        if (failed(factory->enumAdapters(static_cast<uint32_t>(adapterIndex), adapter)) || !adapter) break;
        AdapterDescription description;
        adapter->describe(description);
        log.info("screenRecorder:Adapter {}: {}", adapterIndex, description.description);
        log.info("screenRecorder:  Dedicated Video Memory: {} MB", description.dedicatedVideoMemory >> 20);
        log.info("screenRecorder:  Dedicated System Memory: {} MB", description.dedicatedSystemMemory >> 20);
        log.info("screenRecorder:  Shared System Memory: {} MB", description.sharedSystemMemory >> 20);
        for (uint64_t outputIndex = 0;; ++outputIndex) {
            OutputDescription output;
            if (failed(adapter->describeOutput(static_cast<uint32_t>(outputIndex), output))) break;
            log.info("screenRecorder:  Output {}: {}", outputIndex, output.deviceName);
            log.info("screenRecorder:    Desktop Coordinates: ({}, {}) - ({}, {})", output.left, output.top, output.right,
                     output.bottom);
            log.info("screenRecorder:    Attached to desktop: {}", output.attachedToDesktop ? "Yes" : "No");
        }
    }
    return hresult::ok;
}

HResult ScreenRecorder::createDevice(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    std::unique_ptr<VideoFactory> factory;
    HResult result = capture.createFactory(factory);
    if (failed(result) || !factory) {
        if (!failed(result)) result = hresult::fail;
        log.error("Failed to create DXGIFactory1. HRESULT: 0x{:X}", static_cast<uint32_t>(result));
        reportPlatformReason(settings, TrackEventCode::noDisplay);
        return result;
    }

    const bool byPreference = factory->supportsGpuPreference();
    if (!byPreference) log.info("Falling back to EnumAdapters for adapter enumeration");
    std::unique_ptr<VideoAdapter> adapter;
    // Bounded, so a layer that never reports the end of the list cannot hold the thread forever.
    constexpr uint32_t maxAdapters = 256;
    for (uint32_t index = 0; index < maxAdapters; ++index) {
        const HResult found = byPreference ? factory->enumAdapterByHighPerformance(index, adapter)
                                           : factory->enumAdapters(index, adapter);
        if (found == hresult::notFound) break;
        if (!failed(found) && adapter) break;
        adapter.reset();
    }
    if (!adapter) {
        log.error("No suitable adapter found.");
        return hresult::notFound;
    }

    AdapterDescription description;
    adapter->describe(description);
    log.info("Selected Adapter: {}", description.description);

    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    uint32_t featureLevel = 0;
    result = capture.createDevice(*adapter, device, context, featureLevel);
    if (failed(result) || !device || !context) {
        if (!failed(result)) result = hresult::fail;
        log.error("Failed to create D3D11 device. HRESULT: 0x{:X}", static_cast<uint32_t>(result));
        reportPlatformReason(settings, TrackEventCode::openFailed);
        return result;
    }
    // A new device replaces the previous recording's objects, which were made on the old one.
    screenDuplication.reset();
    lGDIImage.reset();
    lDestImage.reset();
    screenContext = std::move(context);
    screenDevice = std::move(device);
    log.info("D3D11 device created successfully. Feature Level: 0x{:X}", featureLevel);
    return result;
}

void ScreenRecorder::reportPlatformReason(const RecordingSettings& settings, TrackEventCode code) {
    const std::string reason = capture.failureReason();
    if (!reason.empty()) reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", code, "screenRecorder: " + reason);
}
