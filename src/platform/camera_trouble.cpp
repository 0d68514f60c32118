#include "platform/camera.h"

CameraTrouble cameraTroubleOf(HResult result) {
    switch (static_cast<uint32_t>(result)) {
    case 0xC00D3704u:  // MF_E_HW_MFT_FAILED_START_STREAMING: another app streams from it
    case 0xC00D3EA3u:  // MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED: another app took it over
    case 0x800700AAu:  // ERROR_BUSY (EBUSY)
    case 0x80070020u:  // ERROR_SHARING_VIOLATION
        return CameraTrouble::busy;
    case 0x80070005u:  // E_ACCESSDENIED: the privacy setting, or the device's permissions
        return CameraTrouble::accessDenied;
    case 0xC00D3EA2u:  // MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED: unplugged, driver unbound
    case 0x8007048Fu:  // ERROR_DEVICE_NOT_CONNECTED
    case 0x80070002u:  // ERROR_FILE_NOT_FOUND: its node or symbolic link is gone
    case 0x80070015u:  // ERROR_NOT_READY
        return CameraTrouble::gone;
    default:
        return CameraTrouble::none;
    }
}
