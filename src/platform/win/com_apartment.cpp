#include "platform/win/com_apartment.h"

#include <objbase.h>

HRESULT ComApartment::join() {
    if (joined) return S_FALSE;
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    // S_FALSE (already initialised the same way) must be balanced too.
    if (SUCCEEDED(result)) {
        joined = true;
        return result;
    }
    // COM works in the apartment the host gave this thread; it is not ours to leave.
    if (result == RPC_E_CHANGED_MODE) return S_FALSE;
    return result;
}

void ComApartment::leave() {
    if (!joined) return;
    joined = false;
    CoUninitialize();
}
