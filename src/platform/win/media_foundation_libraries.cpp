#include "platform/win/media_foundation_libraries.h"

#include <windows.h>

#include "delay_loaded_media.h"

bool mediaFoundationAvailable(std::string& reason) {
    // Loaded the way the delay-load helper will load them, then let go again.
    for (const char* library : delayLoadedMediaLibraries) {
        HMODULE module = LoadLibraryA(library);
        if (module == nullptr) {
            const DWORD code = GetLastError();
            reason = std::string("Media Foundation is not available (") + library + " cannot be loaded, error " +
                     std::to_string(code) + ")";
            return false;
        }
        FreeLibrary(module);
    }
    return true;
}
