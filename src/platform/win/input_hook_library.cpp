#include "platform/input_hook_library.h"

#include <windows.h>

#include <filesystem>

namespace {

constexpr const wchar_t* hookLibraryName = L"uiohook.dll";

// The hook library is installed in the add-on's own folder.
std::filesystem::path hookLibraryPath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&loadInputHookLibrary), &self)) {
        return hookLibraryName;
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return hookLibraryName;
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path() / hookLibraryName;
}

template <class Function>
bool bind(HMODULE library, const char* symbol, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, symbol)));
    return function != nullptr;
}

}  // namespace

const InputHookLibrary* loadInputHookLibrary(std::string& error) {
    static InputHookLibrary library{};
    static bool loaded = false;
    if (loaded) return &library;

    const std::filesystem::path path = hookLibraryPath();
    // Never freed: a hook may still be installed by it until the process ends.
    HMODULE handle = LoadLibraryW(path.c_str());
    if (handle == nullptr) {
        error = "cannot load " + path.string() + " (error " + std::to_string(GetLastError()) + ")";
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
