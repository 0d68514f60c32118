#include "audio/audio_data_callback.h"

#include <algorithm>
#include <cstdint>

#include "recording_status.h"

void audioDataCallback(ma_device* device, void* output, const void* input, ma_uint32 frameCount) {
    (void)output;
    auto* encoder = static_cast<ma_encoder*>(device->pUserData);
    if (encoder == nullptr || input == nullptr) return;
    ma_encoder_write_pcm_frames(encoder, input, frameCount, nullptr);
    uint32_t silence = countAudioFrames(encoder, input, frameCount);
    // Frames the device lost: silence in their place keeps the rest of the track on the clock.
    static const int16_t zeros[1600] = {};
    while (silence > 0) {
        const uint32_t part = std::min<uint32_t>(silence, 1600);
        ma_encoder_write_pcm_frames(encoder, zeros, part, nullptr);
        silence -= part;
    }
}
