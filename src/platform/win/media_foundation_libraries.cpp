#include "platform/win/media_foundation_libraries.h"

#include <windows.h>

#include <mutex>

#include "delay_loaded_media.h"
#include "platform/win/delay_load_binding.h"
#include "platform/win/system_library.h"

bool mediaFoundationAvailable(std::string& reason) {
    // Loaded the way the delay-load hooks load them, then let go again.
    for (const char* library : delayLoadedMediaLibraries) {
        HMODULE module = loadSystemLibrary(library);
        if (module == nullptr) {
            const DWORD code = GetLastError();
            reason = std::string("Media Foundation is not available (") + library + " cannot be loaded, error " +
                     std::to_string(code) + ")";
            return false;
        }
        FreeLibrary(module);
    }
    // Every import is bound before its first call, so that no call goes through the thunk.
    static std::once_flag bound;
    std::call_once(bound, [] {
        for (const ImgDelayDescr* descriptor : delayLoadedMediaDescriptors) bindDelayLoadedImports(*descriptor);
    });
    return true;
}
