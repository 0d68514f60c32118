#pragma once

#include <cstdint>

// The standard name of a system cursor handle ("Arrow", ...), or nullptr for any other cursor.
const char* standardCursorNameOf(std::uintptr_t handle);
