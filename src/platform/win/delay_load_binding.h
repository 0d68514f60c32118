#pragma once

#include <windows.h>

#include "platform/win/delay_import.h"

// The delay-load helper of mingw-w64's runtime, which its headers do not declare.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry);

// mingw-w64's delay-load thunk keeps only the integer argument registers while its helper loads
// the DLL and looks the function up: the first call of a delay-loaded function that takes a
// floating-point argument can receive garbage (napi_create_double, for one). Binding every import
// of a DLL before any is called means no call ever goes through the thunk.

// Resolves every import of `descriptor` (a delay-import descriptor of the calling module) through
// the delay-load helper and its hooks, as a first call would. An import that cannot be resolved is
// bound to what the failure hook gives for it.
void bindDelayLoadedImports(const ImgDelayDescr& descriptor);

// Whether every import of `descriptor` is bound (none still points at its thunk in this module).
bool delayLoadedImportsBound(const ImgDelayDescr& descriptor);

// The first bound address of `descriptor`'s imports, or nullptr when it has none or none is bound.
FARPROC firstDelayLoadedImport(const ImgDelayDescr& descriptor);
