#pragma once

// Names the calling thread for debuggers, profilers and /proc (at most 15 characters are kept on
// Linux); nothing happens where the system cannot.
void nameThisThread(const char* name);
