#include "platform/win/system_message.h"

#include <cstdio>

std::string systemMessage(HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            message.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), bytes, nullptr, nullptr);
        }
    }
    if (text != nullptr) LocalFree(text);
    for (char& c : message) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    while (!message.empty() && (message.back() == ' ' || message.back() == '.')) message.pop_back();
    return message.empty() ? std::string(code) : message + " (" + code + ")";
}
