// A DLL whose function takes floating-point arguments, delay-loaded by the loader test.
__declspec(dllexport) double fpProbe(void* unused, double a, double b, double c) {
    (void)unused;
    return a + b + c;
}

__declspec(dllexport) double fpProbeUnbound(void* unused, double a, double b, double c) {
    (void)unused;
    return a + b + c;
}
