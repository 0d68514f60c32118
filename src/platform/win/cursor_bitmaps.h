#pragma once

#include <windows.h>

#include "input/cursor_pixels.h"

// A cursor's image, hotspot and the display's scale from the bitmaps GetIconInfo hands out;
// false when they cannot be read. The standard name is left to the caller.
bool readCursorImage(HCURSOR cursor, CursorImage& image);
