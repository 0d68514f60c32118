#include "audio/audio_device.h"

#include <utility>

AudioDevice::AudioDevice() : state(std::make_unique<ma_device>()) {}

AudioDevice::~AudioDevice() { close(); }

ma_result AudioDevice::init(const ma_device_config& config) {
    close();
    const ma_result result = ma_device_init(nullptr, &config, state.get());
    initialised = result == MA_SUCCESS;
    return result;
}

ma_result AudioDevice::initOnBackend(ma_backend backend, const ma_device_config& config) {
    close();
    const ma_backend backends[] = {backend};
    const ma_result result = ma_device_init_ex(backends, 1, nullptr, &config, state.get());
    initialised = result == MA_SUCCESS;
    return result;
}

ma_result AudioDevice::start() { return ma_device_start(state.get()); }

void AudioDevice::close() {
    if (!initialised) return;
    ma_device_stop(state.get());
    ma_device_uninit(state.get());
    initialised = false;
}

void AudioDevice::swap(AudioDevice& other) noexcept {
    state.swap(other.state);
    std::swap(initialised, other.initialised);
}
