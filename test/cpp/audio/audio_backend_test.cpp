// Which miniaudio backends are sound servers, and which capture devices are no microphone: the
// rules behind the no-sound-server lines and the command line's default microphone.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/audio_backend.h"

namespace audio_test {

ma_device_id alsaId(const char* name) {
    ma_device_id id{};
    std::strncpy(id.alsa, name, sizeof id.alsa - 1);
    return id;
}

TEST(AudioBackend, ServersAreServersAndTheRawLayersAreNot) {
    for (ma_backend b : {ma_backend_pulseaudio, ma_backend_jack, ma_backend_wasapi}) EXPECT_TRUE(isSoundServerBackend(b)) << b;
    for (ma_backend b : {ma_backend_alsa, ma_backend_oss, ma_backend_null}) EXPECT_FALSE(isSoundServerBackend(b)) << b;
}

TEST(AudioBackend, OnlyAlsaDevicesNamingASoundCardAreMicrophones) {
    for (const char* placeholder : {"null", "default", "pulse", "jack", "lavrate", "speex", "dsnoop", "upmix", ":"}) {
        EXPECT_TRUE(isPlaceholderDevice(ma_backend_alsa, alsaId(placeholder))) << placeholder;
    }
    for (const char* card : {"hw:CARD=PCH,DEV=0", "sysdefault:CARD=PCH", "hw:0,0", "plughw:1,0", "dsnoop:CARD=USB,DEV=0", ":1,0"}) {
        EXPECT_FALSE(isPlaceholderDevice(ma_backend_alsa, alsaId(card))) << card;
    }
    ma_device_id pulse{};
    std::strncpy(pulse.pulse, "null", sizeof pulse.pulse - 1);  // a PulseAudio source may be called anything
    EXPECT_FALSE(isPlaceholderDevice(ma_backend_pulseaudio, pulse));
    EXPECT_TRUE(isPlaceholderDevice(ma_backend_null, pulse));
}

}  // namespace audio_test
