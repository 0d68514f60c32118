#include "audio/audio_backend.h"

#include <cctype>
#include <cstring>
#include <string>

bool isSoundServerBackend(ma_backend backend) {
    switch (backend) {
    case ma_backend_alsa:
    case ma_backend_oss:
    case ma_backend_sndio:
    case ma_backend_audio4:
    case ma_backend_null:
        return false;
    default:
        return true;
    }
}

bool isPlaceholderDevice(ma_backend backend, const ma_device_id& id) {
    if (backend == ma_backend_null) return true;
    if (backend != ma_backend_alsa) return false;
    const std::string name(id.alsa, strnlen(id.alsa, sizeof id.alsa));
    // A sound card's devices carry it: "hw:CARD=PCH,DEV=0", "sysdefault:CARD=PCH", "hw:0,0", and
    // miniaudio's own ":0,0" (card and device, opened through dsnoop or hw).
    const bool cardAndDevice = name.size() > 1 && name[0] == ':' && std::isdigit(static_cast<unsigned char>(name[1]));
    return name.find("CARD=") == std::string::npos && name.rfind("hw:", 0) != 0 && name.rfind("plughw:", 0) != 0 &&
           !cardAndDevice;
}
