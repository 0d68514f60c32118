#include "platform/input_hook_library.h"

#include "platform/shared_library.h"

namespace {

template <class Function>
bool bind(void* library, const char* symbol, Function& function) {
    function = reinterpret_cast<Function>(librarySymbol(library, symbol));
    return function != nullptr;
}

}  // namespace

const InputHookLibrary* loadInputHookLibrary(std::string& error) {
    static InputHookLibrary library{};
    static bool loaded = false;
    if (loaded) return &library;

    // Never closed: a hook may still be installed by it, and its own state must outlive every
    // recording.
    void* handle = openLibraryBesideAddon("uiohook", error);
    if (handle == nullptr) return nullptr;
    if (!bind(handle, "hook_set_dispatch_proc", library.setDispatchProc) || !bind(handle, "hook_run", library.run) ||
        !bind(handle, "hook_stop", library.stop)) {
        error = "the uiohook library lacks the hook functions";
        return nullptr;
    }
    loaded = true;
    return &library;
}
