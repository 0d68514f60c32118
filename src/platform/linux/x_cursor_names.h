#pragma once

#include <string_view>
#include <vector>

// X cursor names (as applications ask the cursor theme for them) and the standard cursor each
// stands for. Themes answer many aliases and a few well-known hash names for one image.

// The standard cursor name for an X cursor name, or nullptr when it is none of them.
const char* standardNameForXCursor(std::string_view xName);

// The X names of one standard cursor, the usual one first; empty when X has no such cursor.
const std::vector<const char*>& xCursorNamesOf(std::string_view standardName);
