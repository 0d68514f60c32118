/* miniaudio's implementation, compiled once in a translation unit of its own. */
#define MINIAUDIO_IMPLEMENTATION
#include "miniaudio.h"
