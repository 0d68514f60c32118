#include "platform/win/delay_load_binding.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

char* moduleBase() { return reinterpret_cast<char*>(&__ImageBase); }

// The import address table of the descriptor; it ends with a null entry. GNU ld leaves the delay
// import directory of the PE header empty, so the descriptors are reached by their symbols.
FARPROC* addressTable(const ImgDelayDescr& descriptor) { return reinterpret_cast<FARPROC*>(moduleBase() + descriptor.rvaIAT); }

bool insideThisModule(FARPROC address) {
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(moduleBase() + __ImageBase.e_lfanew);
    const char* at = reinterpret_cast<const char*>(address);
    return at >= moduleBase() && at < moduleBase() + headers->OptionalHeader.SizeOfImage;
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
