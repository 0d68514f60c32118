#include <windows.h>

#include <string>

#include "platform/thread_name.h"

// SetThreadDescription exists from Windows 10 1607 on: looked up, so older systems still load us.
void nameThisThread(const char* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) return;
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    set(GetCurrentThread(), wide.c_str());
}
