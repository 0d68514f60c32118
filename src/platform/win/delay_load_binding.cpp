#include "platform/win/delay_load_binding.h"

namespace {

HMODULE moduleAt(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

// The module this code is linked into, whose descriptors these are.
char* moduleBase() { return reinterpret_cast<char*>(moduleAt(reinterpret_cast<const void*>(&moduleAt))); }

// The import address table of the descriptor; it ends with a null entry. GNU ld leaves the delay
// import directory of the PE header empty, so the descriptors are reached by their symbols.
FARPROC* addressTable(const ImgDelayDescr& descriptor) { return reinterpret_cast<FARPROC*>(moduleBase() + descriptor.rvaIAT); }

// An entry not yet bound points at its thunk, in this module.
bool insideThisModule(FARPROC address) {
    return moduleAt(reinterpret_cast<const void*>(address)) == reinterpret_cast<HMODULE>(moduleBase());
}

}  // namespace

void bindDelayLoadedImports(const ImgDelayDescr& descriptor) {
    for (FARPROC* entry = addressTable(descriptor); *entry != nullptr; ++entry) {
        if (insideThisModule(*entry)) __delayLoadHelper2(&descriptor, entry);
    }
}

bool delayLoadedImportsBound(const ImgDelayDescr& descriptor) {
    for (FARPROC* entry = addressTable(descriptor); *entry != nullptr; ++entry) {
        if (insideThisModule(*entry)) return false;
    }
    return true;
}

FARPROC firstDelayLoadedImport(const ImgDelayDescr& descriptor) {
    FARPROC first = *addressTable(descriptor);
    return first != nullptr && !insideThisModule(first) ? first : nullptr;
}
