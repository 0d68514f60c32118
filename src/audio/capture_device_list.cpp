#include "audio/capture_device_list.h"

#include <cstring>

#include "audio/audio_backend.h"

CaptureDeviceList listCaptureDevices() {
    CaptureDeviceList list;
    ma_context context;
    if (ma_context_init(nullptr, 0, nullptr, &context) != MA_SUCCESS) {
        list.status = CaptureDeviceList::Status::contextFailed;
        return list;
    }
    ma_device_info* capture = nullptr;
    ma_uint32 captureCount = 0;
    if (ma_context_get_devices(&context, nullptr, nullptr, &capture, &captureCount) != MA_SUCCESS) {
        ma_context_uninit(&context);
        list.status = CaptureDeviceList::Status::enumerationFailed;
        return list;
    }
    list.backend = context.backend;
    list.names.reserve(captureCount);
    list.ids.reserve(captureCount);
    for (ma_uint32 i = 0; i < captureCount; ++i) {
        list.names.emplace_back(capture[i].name, strnlen(capture[i].name, sizeof capture[i].name));
        list.ids.push_back(capture[i].id);
        list.placeholders.push_back(isPlaceholderDevice(context.backend, capture[i].id));
    }
    ma_context_uninit(&context);
    return list;
}
