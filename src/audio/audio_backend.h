#pragma once

#include "miniaudio.h"

// Whether miniaudio reached a sound server (PulseAudio, PipeWire through its PulseAudio service,
// JACK, or the system's own audio service on Windows) rather than a raw device layer (ALSA, OSS)
// or its null backend, which is what it falls back to when no server answers.
bool isSoundServerBackend(ma_backend backend);

// A capture device that is no microphone: ALSA's null device (endless zeros) and its plugin
// devices that name no sound card (rate converters, bridges to other sound systems), and
// everything of miniaudio's null backend.
bool isPlaceholderDevice(ma_backend backend, const ma_device_id& id);

// The line's words for a missing sound server, after the track's prefix.
inline constexpr char noSoundServerText[] = "no sound server could be reached (PulseAudio or PipeWire)";
