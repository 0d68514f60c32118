#include <cstdint>

#include "recording_status.h"
#include "screen/screen_log.h"
#include "track_events.h"
#include "screen/screen_recorder.h"

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

namespace {

// DuplicateOutput's answers when this device cannot duplicate this output: UNSUPPORTED from a
// hybrid laptop's discrete GPU, INVALIDARG for a device not made on the output's adapter (no
// duplication of ours is alive at start). NOT_CURRENTLY_AVAILABLE is not among them: it means
// the session's limit of duplicating processes is reached, which another adapter cannot change.
bool refusedOnThisDevice(HResult result) { return result == hresult::unsupported || result == hresult::invalidArgument; }

// The same output as another adapter lists it: a hybrid laptop's panel, seen by both GPUs.
std::optional<DisplayEntry> otherListingOf(const DisplayEntry& entry, const std::vector<DisplayEntry>& displays) {
    for (const DisplayEntry& other : displays) {
        if (other.output.deviceName == entry.output.deviceName && other.adapterLuid != entry.adapterLuid) return other;
    }
    return std::nullopt;
}

}  // namespace

HResult ScreenRecorder::createDeviceOn(VideoAdapter& adapter, const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    AdapterDescription description;
    adapter.describe(description);
    log.info("Selected Adapter: {}", description.description);

    std::unique_ptr<VideoDevice> device;
    std::unique_ptr<VideoContext> context;
    uint32_t featureLevel = 0;
    HResult result = capture.createDevice(adapter, device, context, featureLevel);
    if (failed(result) || !device || !context) {
        const HResult withFlag = failed(result) ? result : hresult::fail;
        device.reset();
        context.reset();
        result = capture.createPlainDevice(adapter, device, context, featureLevel);
        if (failed(result) || !device || !context) {
            if (!failed(result)) result = hresult::fail;
            log.error("Failed to create D3D11 device. HRESULT: 0x{:X}", static_cast<uint32_t>(withFlag));
            reportPlatformReason(settings, TrackEventCode::openFailed);
            return result;
        }
        log.info("screenRecorder: device made without video support, which the adapter refused (0x{:X})",
                 static_cast<uint32_t>(withFlag));
    }
    // A new device replaces the previous objects, which were made on the old one.
    screenDuplication.reset();
    lDestImage.reset();
    screenContext = std::move(context);
    screenDevice = std::move(device);
    log.info("D3D11 device created successfully. Feature Level: 0x{:X}", featureLevel);
    return result;
}

HResult ScreenRecorder::recreateDevice(const RecordingSettings& settings) {
    if (!display) return createDevice(settings);
    std::unique_ptr<VideoFactory> factory;
    const HResult created = capture.createFactory(factory);
    if (failed(created) || !factory) return failed(created) ? created : hresult::fail;
    // The same adapter and output if they are still there; after a driver update the adapter is
    // a new one (another LUID) with the same output.
    const std::vector<DisplayEntry> displays = listDisplays(*factory);
    const DisplayEntry* found = nullptr;
    for (const DisplayEntry& entry : displays) {
        if (entry.output.deviceName != display->output.deviceName) continue;
        if (entry.adapterLuid == display->adapterLuid) {
            found = &entry;
            break;
        }
        if (found == nullptr) found = &entry;
    }
    if (found == nullptr) return hresult::notFound;
    std::unique_ptr<VideoAdapter> adapter;
    if (failed(factory->enumAdapters(found->adapterIndex, adapter)) || !adapter) return hresult::notFound;
    display = *found;
    outputIndex = found->outputIndex;
    return createDeviceOn(*adapter, settings);
}

HResult ScreenRecorder::createDevice(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    display.reset();
    movedTo.reset();
    sameOutputElsewhere.reset();
    unavailableAtStart.reset();
    outputIndex = 0;
    std::unique_ptr<VideoFactory> factory;
    HResult result = capture.createFactory(factory);
    if (failed(result) || !factory) {
        if (!failed(result)) result = hresult::fail;
        log.error("Failed to create DXGIFactory1. HRESULT: 0x{:X}", static_cast<uint32_t>(result));
        reportPlatformReason(settings, TrackEventCode::noDisplay);
        return result;
    }
    const std::vector<DisplayEntry> displays = listDisplays(*factory);

    if (settings.display >= 0) {
        if (static_cast<size_t>(settings.display) >= displays.size()) {
            reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed,
                             fmt::format("screenRecorder: display {} does not exist; listDisplays() lists {}", settings.display,
                                         displays.size()));
            return hresult::notFound;
        }
        const DisplayEntry& chosen = displays[static_cast<size_t>(settings.display)];
        std::unique_ptr<VideoAdapter> adapter;
        if (failed(factory->enumAdapters(chosen.adapterIndex, adapter)) || !adapter) {
            log.error("No suitable adapter found.");
            return hresult::notFound;
        }
        display = chosen;
        outputIndex = chosen.outputIndex;
        sameOutputElsewhere = otherListingOf(chosen, displays);
        return createDeviceOn(*adapter, settings);
    }

    const bool byPreference = factory->supportsGpuPreference();
    if (!byPreference) log.info("Falling back to EnumAdapters for adapter enumeration");
    std::unique_ptr<VideoAdapter> adapter;
    uint32_t adapterIndex = 0;
    // Bounded, so a layer that never reports the end of the list cannot hold the thread forever.
    constexpr uint32_t maxAdapters = 256;
    for (; adapterIndex < maxAdapters; ++adapterIndex) {
        const HResult found = byPreference ? factory->enumAdapterByHighPerformance(adapterIndex, adapter)
                                           : factory->enumAdapters(adapterIndex, adapter);
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
    // The same adapter in the list: by its LUID when the order was the high-performance one.
    for (const DisplayEntry& entry : displays) {
        const bool sameAdapter = byPreference ? entry.adapterLuid == description.luid : entry.adapterIndex == adapterIndex;
        if (sameAdapter && entry.outputIndex == 0) {
            display = entry;
            break;
        }
    }
    if (display) sameOutputElsewhere = otherListingOf(*display, displays);
    const std::optional<DisplayEntry> primary = primaryDisplay(displays);
    const bool onPrimary = display && primary && display->index == primary->index;
    OutputDescription firstOutput;
    if (primary && !onPrimary && failed(adapter->describeOutput(0, firstOutput))) {
        // The discrete GPU of a hybrid laptop drives no display: record the primary one, on the
        // adapter that drives it.
        std::unique_ptr<VideoAdapter> primaryAdapter;
        if (!failed(factory->enumAdapters(primary->adapterIndex, primaryAdapter)) && primaryAdapter) {
            log.info("Selected Adapter: {}", description.description);
            reportTrackEvent(log, TrackEventKind::warning, "screen", TrackEventCode::deviceChanged,
                             fmt::format("screenRecorder: {} drives no display; recording the primary display {} on {} instead",
                                         description.description, primary->output.deviceName, primary->adapterName));
            display = primary;
            outputIndex = primary->outputIndex;
            return createDeviceOn(*primaryAdapter, settings);
        }
    }
    if (primary && !onPrimary) movedTo = primary;
    return createDeviceOn(*adapter, settings);
}

bool ScreenRecorder::setUpCapture(const RecordingSettings& settings) {
    spdlog::logger& log = screenLog(settings);
    if (failed(createDevice(settings))) {
        reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: createDevice failed");
        return false;
    }
    if (prepare(settings, true)) {
        publishDisplay();
        return true;
    }
    // UNSUPPORTED also means a desktop mode that cannot be duplicated for now: only a display
    // that another adapter lists too (a hybrid laptop's panel) moves for it, to that adapter.
    const bool refused = lastFailedStep == DuplicationStep::duplicateOutput && refusedOnThisDevice(lastDuplication);
    std::optional<DisplayEntry> primary;
    if (refused && lastDuplication == hresult::unsupported) {
        primary = sameOutputElsewhere;
    } else if (refused) {
        primary = movedTo ? movedTo : sameOutputElsewhere;
    }
    if (primary) {
        reportTrackEvent(log, TrackEventKind::warning, "screen", TrackEventCode::deviceChanged,
                         fmt::format("screenRecorder: the chosen adapter cannot duplicate {} (0x{:X}); recording the primary display {} on {} instead",
                                     display ? display->output.deviceName : std::string("output 0"),
                                     static_cast<uint32_t>(lastDuplication), primary->output.deviceName, primary->adapterName));
        std::unique_ptr<VideoFactory> factory;
        std::unique_ptr<VideoAdapter> adapter;
        if (failed(capture.createFactory(factory)) || !factory || failed(factory->enumAdapters(primary->adapterIndex, adapter)) ||
            !adapter) {
            log.error("No suitable adapter found.");
            reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: createDevice failed");
            return false;
        }
        movedTo.reset();
        sameOutputElsewhere.reset();
        display = primary;
        outputIndex = primary->outputIndex;
        if (failed(createDeviceOn(*adapter, settings))) {
            reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: createDevice failed");
            return false;
        }
        if (prepare(settings, true)) {
            publishDisplay();
            return true;
        }
    }
    if (failed(lastDuplication) && lastFailedStep == DuplicationStep::duplicateOutput && isCaptureOutage(lastDuplication) &&
        startUnavailable(settings)) {
        return true;
    }
    if (failed(lastDuplication)) sayDuplicationFailure(settings);
    reportTrackEvent(log, TrackEventKind::failure, "screen", TrackEventCode::openFailed, "screenRecorder: prepare failed");
    return false;
}

bool ScreenRecorder::startUnavailable(const RecordingSettings& settings) {
    if (!display) return false;
    const int64_t width = static_cast<int64_t>(display->output.right) - display->output.left;
    const int64_t height = static_cast<int64_t>(display->output.bottom) - display->output.top;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
    screenLog(settings).info("screenRecorder: {} cannot be duplicated now (0x{:08X}); the recording starts without its picture",
                             display->output.deviceName, static_cast<uint32_t>(lastDuplication));
    duplicationDesc = DuplicationMode{static_cast<uint32_t>(width), static_cast<uint32_t>(height), pixelFormatB8G8R8A8, 0};
    unavailableAtStart = lastDuplication;
    publishDisplay();
    return true;
}

void ScreenRecorder::publishDisplay() {
    RecordedDisplay recorded;
    recorded.rotation = duplicationDesc.rotation;
    if (display) {
        recorded.index = static_cast<int32_t>(display->index);
        recorded.name = display->output.deviceName;
        recorded.left = display->output.left;
        recorded.top = display->output.top;
        recorded.right = display->output.right;
        recorded.bottom = display->output.bottom;
    } else {
        recorded.name = "output 0";
        recorded.right = static_cast<int32_t>(duplicationDesc.width);
        recorded.bottom = static_cast<int32_t>(duplicationDesc.height);
    }
    setScreenDisplay(recorded);
}

void ScreenRecorder::reportPlatformReason(const RecordingSettings& settings, TrackEventCode code) {
    const std::string reason = capture.failureReason();
    if (!reason.empty()) reportTrackEvent(screenLog(settings), TrackEventKind::failure, "screen", code, "screenRecorder: " + reason);
}
