#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Tells when the user picks another default output (headphones plugged in, a Bluetooth speaker
// chosen), so that system audio and its keep-alive can move to it. The platform says so itself
// (PulseAudio's server events, Windows' endpoint notifications): nothing is polled.
class DefaultOutputWatch {
public:
    virtual ~DefaultOutputWatch() = default;
    // How many times the default output has changed since the watch began; an atomic read, cheap
    // enough for every 30 ms pass of a recorder thread.
    virtual uint64_t changes() const = 0;
    // The current default output's identifier (a sink name, an endpoint id); empty when there is
    // none or the watch cannot see it.
    virtual std::string currentDefault() const = 0;
    // False once the watch can no longer see changes (its sound server went away).
    virtual bool alive() const = 0;
};

// A watch on the platform's default output; one that never reports a change when the platform
// cannot be watched. Never null.
std::unique_ptr<DefaultOutputWatch> watchDefaultOutput();
