#pragma once

#include <windows.h>

#include "input/cursor_pixels.h"

// A cursor's image, hotspot and the display's scale from the bitmaps GetIconInfo hands out;
// false when they cannot be read. The standard name is left to the caller.
bool readCursorImage(HCURSOR cursor, CursorImage& image);

// True when the cursor's second frame differs from its first: an animated cursor. A cursor
// whose first two frames are the same counts as still.
bool cursorIsAnimated(HCURSOR cursor, int32_t width, int32_t height);
