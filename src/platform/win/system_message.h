#pragma once

#include <windows.h>

#include <string>

// The system's text for a result on one line, without its closing period, followed by the code:
// "There is not enough space on the disk (0x80070070)". Just the code when the system has no text.
std::string systemMessage(HRESULT result);
