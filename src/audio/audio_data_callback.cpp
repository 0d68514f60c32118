#include "audio/audio_data_callback.h"

#include <algorithm>
#include <cstdint>

#include "audio/wav_track_file.h"
#include "platform/audio_stream_state.h"
#include "recording_status.h"

void writeSilence(ma_encoder* encoder, uint64_t frames) {
    static const int16_t zeros[1600] = {};
    while (frames > 0) {
        const auto part = static_cast<ma_uint64>(std::min<uint64_t>(frames, 1600));
        ma_encoder_write_pcm_frames(encoder, zeros, part, nullptr);
        frames -= part;
    }
}

void audioDataCallback(ma_device* device, void* output, const void* input, ma_uint32 frameCount) {
    (void)output;
    auto* encoder = static_cast<ma_encoder*>(device->pUserData);
    if (encoder == nullptr || input == nullptr) return;
    if (recordingPaused()) {
        noteAudioCallbackWhilePaused(encoder);  // the device is there; its frames are left out
        return;
    }
    // Frames the device never delivered: silence in their place keeps the track on the clock; the
    // frames themselves come resampled by the device's measured rate.
    const AudioFill fill = countAudioFrames(encoder, input, frameCount, captureAgeTicks(*device, frameCount));
    writeSilence(encoder, fill.before);
    if (fill.count != 0) ma_encoder_write_pcm_frames(encoder, fill.samples, fill.count, nullptr);
    writeSilence(encoder, fill.after);
}
