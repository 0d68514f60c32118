#include "platform/shared_library.h"

#include <windows.h>

#include <filesystem>

#include "utf8_path.h"

namespace {

std::filesystem::path addonFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&openLibraryBesideAddon), &self)) {
        return {};
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

void* openLibraryBesideAddon(const std::string& stem, std::string& error) {
    const std::filesystem::path path = addonFolder() / (stem + ".dll");
    HMODULE handle = LoadLibraryW(path.c_str());
    if (handle == nullptr) {
        const DWORD code = GetLastError();
        error = "cannot load " + utf8FromPath(path) + " (error " + std::to_string(code) + ")";
    }
    return reinterpret_cast<void*>(handle);
}

void* librarySymbol(void* library, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}
