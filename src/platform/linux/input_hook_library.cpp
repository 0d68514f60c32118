#include "platform/input_hook_library.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

constexpr const char* hookLibraryName = "libuiohook.so";

// The hook library is installed in the add-on's own folder.
std::filesystem::path hookLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&loadInputHookLibrary), &info) == 0 || info.dli_fname == nullptr) {
        return hookLibraryName;
    }
    return std::filesystem::path(info.dli_fname).parent_path() / hookLibraryName;
}

template <class Function>
bool bind(void* library, const char* symbol, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, symbol));
    return function != nullptr;
}

}  // namespace

const InputHookLibrary* loadInputHookLibrary(std::string& error) {
    static InputHookLibrary library{};
    static bool loaded = false;
    if (loaded) return &library;

    const std::filesystem::path path = hookLibraryPath();
    // Never closed: its destructor and the hook's own state must outlive every recording.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load " + path.string() + ": " + (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    if (!bind(handle, "hook_set_dispatch_proc", library.setDispatchProc) || !bind(handle, "hook_run", library.run) ||
        !bind(handle, "hook_stop", library.stop)) {
        error = path.string() + " lacks the hook functions";
        return nullptr;
    }
    loaded = true;
    return &library;
}
