#pragma once

#include <wrl/client.h>

// Takes over a reference the caller already owns (a new object's first, an element of an array
// the system handed out) without adding one. mingw-w64's ComPtr::Attach adds a reference, unlike
// the Windows SDK's, which would leak every object attached that way.
template <class T>
Microsoft::WRL::ComPtr<T> adoptReference(T* owned) {
    Microsoft::WRL::ComPtr<T> pointer;
    *pointer.GetAddressOf() = owned;
    return pointer;
}
