#pragma once

#include <string>

// Opens the shared library `stem` (libstem.so, stem.dll) from the add-on's own folder. It is never
// closed. nullptr with `error` saying why when it cannot be opened.
void* openLibraryBesideAddon(const std::string& stem, std::string& error);

// The address of `symbol` in a library opened above, or nullptr.
void* librarySymbol(void* library, const char* symbol);
