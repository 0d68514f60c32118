#pragma once

#include <memory>

#include "miniaudio.h"

// An initialised miniaudio device. It is always stopped before it is uninitialised: miniaudio
// 0.11.22's ma_device_uninit does not stop it and can then wait tens of seconds on a source that
// delivers nothing.
class AudioDevice {
public:
    AudioDevice();
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // With a context of its own that miniaudio creates on the default backends.
    ma_result init(const ma_device_config& config);
    // With a context of its own limited to one backend.
    ma_result initOnBackend(ma_backend backend, const ma_device_config& config);
    ma_result start();
    // Stops and uninitialises; the device may be initialised again afterwards.
    void close();

    // Exchanges the two devices; each stays where miniaudio knows it.
    void swap(AudioDevice& other) noexcept;

    bool isOpen() const { return initialised; }
    ma_device* device() { return state.get(); }

private:
    std::unique_ptr<ma_device> state;  // miniaudio keeps pointers into it: it must not move
    bool initialised = false;
};
