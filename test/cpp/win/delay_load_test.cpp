// The loader: delay-loaded functions with floating-point arguments, the media libraries bound
// before their first call, and from the system folder only.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/win/delay_import.h"

#include <string>

#include "delay_loaded_media.h"
#include "platform/win/delay_load_binding.h"
#include "platform/win/media_foundation_libraries.h"
#include "platform/win/system_library.h"

extern "C" {
double fpProbe(void* unused, double a, double b, double c);
double fpProbeUnbound(void* unused, double a, double b, double c);
extern const ImgDelayDescr DESKTRACKS_FP_PROBE_DESCRIPTOR;
}

namespace {

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring systemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    GetSystemDirectoryW(buffer, MAX_PATH);
    return lower(buffer);
}

std::wstring fileOfModuleAt(FARPROC address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(address), &module);
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(module, buffer, MAX_PATH);
    return lower(buffer);
}

// The first call of fpProbe would load fp_probe.dll through the helper; without binding,
// mingw-w64's thunk hands the function whatever the load left in the XMM registers.
TEST(DelayLoad, BoundImportsReceiveTheirFloatingPointArguments) {
    bindDelayLoadedImports(DESKTRACKS_FP_PROBE_DESCRIPTOR);
    EXPECT_TRUE(delayLoadedImportsBound(DESKTRACKS_FP_PROBE_DESCRIPTOR));
    EXPECT_EQ(fpProbe(nullptr, 100.0, 20.0, 3.0), 123.0);
}

// What the binding is for: the same first call of a function of another DLL (fp_probe_raw.dll),
// left to the thunk. Skipped if a thunk ever keeps the registers (then the binding is moot).
TEST(DelayLoad, TheThunkAloneLosesThemOnTheFirstCall) {
    const double first = fpProbeUnbound(nullptr, 100.0, 20.0, 3.0);
    const double second = fpProbeUnbound(nullptr, 100.0, 20.0, 3.0);
    EXPECT_EQ(second, 123.0);
    if (first == 123.0) GTEST_SKIP() << "this thunk keeps the XMM registers";
    EXPECT_NE(first, 123.0) << "the arguments the load overwrote";
}

TEST(DelayLoad, MediaImportsAreBoundFromTheSystemFolderBeforeAnyCall) {
    std::string reason;
    if (!mediaFoundationAvailable(reason)) GTEST_SKIP() << reason;
    const std::wstring system = systemFolder();
    for (const ImgDelayDescr* descriptor : delayLoadedMediaDescriptors) {
        EXPECT_TRUE(delayLoadedImportsBound(*descriptor));
        if (FARPROC first = firstDelayLoadedImport(*descriptor)) {
            EXPECT_EQ(folderOf(fileOfModuleAt(first)), system);
        }
    }
    for (const char* library : delayLoadedMediaLibraries) {
        HMODULE module = loadSystemLibrary(library);
        ASSERT_NE(module, nullptr) << library;
        wchar_t buffer[MAX_PATH] = {};
        GetModuleFileNameW(module, buffer, MAX_PATH);
        EXPECT_EQ(folderOf(lower(buffer)), system) << library;
        FreeLibrary(module);
    }
}

// A DLL beside the program (planted_probe.dll, loaded by nothing else) is not found this way,
// though the default search order finds it.
TEST(DelayLoad, SystemLibrariesAreNotTakenFromTheApplicationFolder) {
    EXPECT_EQ(loadSystemLibrary("planted_probe.dll"), nullptr);
    HMODULE planted = LoadLibraryW(L"planted_probe.dll");
    EXPECT_NE(planted, nullptr) << "the default search finds it beside the program";
    if (planted != nullptr) FreeLibrary(planted);
}

}  // namespace
