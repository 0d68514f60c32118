#pragma once

#include <windows.h>

// Makes the colour converter DSP available to this process's sink writers while it is held. The
// platform registers it for the whole process, so every holder shares one registration, counted:
// the first to acquire registers it, the last to release unregisters it, and a recording that
// ends does not take it from another one still running.
class ColourConverterRegistration {
public:
    ColourConverterRegistration() = default;
    ~ColourConverterRegistration() { release(); }
    ColourConverterRegistration(const ColourConverterRegistration&) = delete;
    ColourConverterRegistration& operator=(const ColourConverterRegistration&) = delete;

    // Holds the registration (once per holder, whatever the number of calls); Media Foundation
    // must be started.
    HRESULT acquire();
    // Before the holder's MFShutdown.
    void release();
    bool held() const { return holding; }

private:
    bool holding = false;
};
