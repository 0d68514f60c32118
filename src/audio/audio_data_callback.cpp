#include "audio/audio_data_callback.h"

#include "recording_status.h"

void audioDataCallback(ma_device* device, void* output, const void* input, ma_uint32 frameCount) {
    (void)output;
    auto* encoder = static_cast<ma_encoder*>(device->pUserData);
    if (encoder == nullptr || input == nullptr) return;
    ma_encoder_write_pcm_frames(encoder, input, frameCount, nullptr);
    countAudioFrames(encoder, input, frameCount);
}
