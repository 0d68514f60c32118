#pragma once

#include <windows.h>

#include <string>

// Loads a system DLL from the system folder only, never by the search order (the application's
// folder, the current directory, PATH), where a planted file of the same name would be taken.
inline HMODULE loadSystemLibrary(const char* name) {
    const std::wstring wide(name, name + lstrlenA(name));  // DLL names are ASCII
    return LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
