#include "platform/win/colour_converter_registration.h"

#include <mfapi.h>
#include <wmcodecdsp.h>

#include <mutex>

namespace {

// Process-wide because the registration is: MFTRegisterLocalByCLSID registers for the process.
struct SharedRegistration {
    std::mutex mutex;
    unsigned holders = 0;  // under mutex
};

SharedRegistration& shared() {
    static SharedRegistration registration;
    return registration;
}

}  // namespace

HRESULT ColourConverterRegistration::acquire() {
    if (holding) return S_OK;
    SharedRegistration& registration = shared();
    std::lock_guard<std::mutex> lock(registration.mutex);
    if (registration.holders == 0) {
        const HRESULT result = MFTRegisterLocalByCLSID(__uuidof(CColorConvertDMO), MFT_CATEGORY_VIDEO_PROCESSOR, L"",
                                                       MFT_ENUM_FLAG_SYNCMFT, 0, nullptr, 0, nullptr);
        if (FAILED(result)) return result;
    }
    ++registration.holders;
    holding = true;
    return S_OK;
}

void ColourConverterRegistration::release() {
    if (!holding) return;
    holding = false;
    SharedRegistration& registration = shared();
    std::lock_guard<std::mutex> lock(registration.mutex);
    if (--registration.holders == 0) MFTUnregisterLocalByCLSID(__uuidof(CColorConvertDMO));
}
