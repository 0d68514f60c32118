#pragma once

#include <windows.h>
#include <dxgi1_2.h>

#include <cstdint>

#include "platform/pointer_shape.h"

// The new pointer shape the acquired frame reports, with the time it was drawn; false when the
// frame brought none (then nothing is read) or it cannot be read. Called before the frame is
// released.
bool readPointerShape(IDXGIOutputDuplication& duplication, const DXGI_OUTDUPL_FRAME_INFO& frame, PointerShape& shape);

// The wall-clock ms of a QueryPerformanceCounter reading of this boot.
int64_t wallMillisOfPerformanceCount(int64_t count);
