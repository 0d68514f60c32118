#pragma once

#include <string>
#include <vector>

#include "miniaudio.h"

// The audio capture devices as miniaudio's default backends list them. A position in this list
// is what `micIndex` means, both for getMics and for the microphone recorder.
struct CaptureDeviceList {
    enum class Status { ok, contextFailed, enumerationFailed };
    Status status = Status::ok;
    std::vector<std::string> names;
    std::vector<ma_device_id> ids;  // same order as `names`
    std::vector<bool> placeholders;  // same order: devices that are no microphone (isPlaceholderDevice)
    ma_backend backend = ma_backend_null;  // the backend that listed them
};

CaptureDeviceList listCaptureDevices();
