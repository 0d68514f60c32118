#include "platform/shared_library.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

std::filesystem::path addonFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&openLibraryBesideAddon), &info) == 0 || info.dli_fname == nullptr) return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

}  // namespace

void* openLibraryBesideAddon(const std::string& stem, std::string& error) {
    const std::filesystem::path path = addonFolder() / ("lib" + stem + ".so");
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load " + path.string() + ": " + (reason != nullptr ? reason : "unknown error");
    }
    return handle;
}

void* librarySymbol(void* library, const char* symbol) { return dlsym(library, symbol); }
