// DLLs whose functions take floating-point arguments, delay-loaded by the loader test. Loading one
// uses the XMM registers, as a DLL's start-up or the loader itself may: the argument registers
// XMM1-XMM3 are zeroed here, so a call whose arguments were not kept around the load sees zeros.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) __asm__ volatile("xorps %%xmm1, %%xmm1\n\txorps %%xmm2, %%xmm2\n\txorps %%xmm3, %%xmm3" ::: "xmm1", "xmm2", "xmm3");
    return TRUE;
}

__declspec(dllexport) double fpProbe(void* unused, double a, double b, double c) {
    (void)unused;
    return a + b + c;
}

__declspec(dllexport) double fpProbeUnbound(void* unused, double a, double b, double c) {
    (void)unused;
    return a + b + c;
}
