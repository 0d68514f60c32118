#pragma once

// mingw-w64's <delayimp.h> has no include guard: it is included through this header only.
#include <windows.h>

#include <delayimp.h>
