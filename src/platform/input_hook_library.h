#pragma once

#include <string>

#include <uiohook.h>

// libuiohook's entry points, from the shared library that sits next to the add-on. The library
// is opened the first time a recording needs it and stays loaded for the life of the process.
struct InputHookLibrary {
    void (*setDispatchProc)(dispatcher_t dispatchProc);
    int (*run)();
    int (*stop)();
};

// The loaded library, or nullptr with `error` saying what went wrong. Call from one thread at
// a time.
const InputHookLibrary* loadInputHookLibrary(std::string& error);
