// How the delay-loaded imports of cmake/DelayLoad.cmake are resolved. The delay-load helper of
// mingw-w64's runtime reads these two hooks by name on the first call of each import.
#include <windows.h>

#include "platform/win/delay_import.h"

#include "delay_loaded_media.h"
#include "platform/win/system_library.h"

namespace {

bool isHostImport(const char* dll) { return lstrcmpiA(dll, "node.exe") == 0; }

bool isMediaLibrary(const char* dll) {
    for (const char* media : delayLoadedMediaLibraries) {
        if (lstrcmpiA(dll, media) == 0) return true;
    }
    return false;
}

// Stands in for every function of a media library that cannot be loaded or lacks it. All the
// functions taken from those libraries return an HRESULT (keep it so when adding one), and on
// x86-64 the caller owns its arguments, so an argument-less function can stand in for them.
HRESULT WINAPI unavailableMediaFunction() { return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND); }

// Through void (*)(), the type-erased function pointer the compiler accepts any function as.
FARPROC unavailableMediaProc() {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(unavailableMediaFunction));
}

// Node-API lives in whatever executable hosts the add-on: node.exe, a renamed copy of it or
// Electron. Never let the loader search for a file named node.exe, which would load a second Node.
// The media libraries come from the system folder only: the helper's own LoadLibrary would search
// the application's folder and the current directory first. One that is not there is bound to the
// host, as a failed load is (below).
FARPROC WINAPI notifyHook(unsigned event, PDelayLoadInfo info) {
    if (event == dliNotePreLoadLibrary && isHostImport(info->szDll)) {
        return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
    }
    if (event == dliNotePreLoadLibrary && isMediaLibrary(info->szDll)) {
        HMODULE library = loadSystemLibrary(info->szDll);
        return reinterpret_cast<FARPROC>(library != nullptr ? library : GetModuleHandleW(nullptr));
    }
    // A media library that could not be loaded was bound to the host (below): its functions are
    // never looked up there.
    if (event == dliNotePreGetProcAddress && info->hmodCur == GetModuleHandleW(nullptr) && isMediaLibrary(info->szDll)) {
        return unavailableMediaProc();
    }
    return nullptr;
}

// Every Node-API function returns a napi_status but napi_module_register and napi_fatal_error,
// whose callers ignore it. The imports are bound at the module's start (delay_load_binding.h), so
// one the host lacks (an older Node or Electron) fails its caller with napi_generic_failure, which
// becomes a JavaScript error, instead of ending the process there.
int WINAPI unavailableNodeApiFunction() { return 9; }  // napi_generic_failure

// The helper's default on failure is an exception that ends the host process. A missing media
// library (Windows N without the Media Feature Pack) or function fails its callers instead.
FARPROC WINAPI failureHook(unsigned event, PDelayLoadInfo info) {
    if (event == dliFailGetProc && isHostImport(info->szDll)) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(unavailableNodeApiFunction));
    }
    if (!isMediaLibrary(info->szDll)) return nullptr;
    // The helper needs some module to bind to; the host executable cannot be unloaded by it.
    if (event == dliFailLoadLib) return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
    if (event == dliFailGetProc) return unavailableMediaProc();
    return nullptr;
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = notifyHook;
PfnDliHook __pfnDliFailureHook2 = failureHook;
}
