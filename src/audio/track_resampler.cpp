#include "audio/track_resampler.h"

#include <cmath>

#include "miniaudio.h"

namespace {

// The resampler's rates: the output's fixed, the input's moved by the ratio. miniaudio scales its
// fractional position by the old and new output rates in 32 bits when the rate changes, so both
// stay below 65536; this one steps the ratio by 17 ppm, finer than any drift left after a second.
constexpr ma_uint32 outputRate = 60000;

ma_uint32 inputRateFor(double ratio) { return static_cast<ma_uint32>(std::lround(outputRate / ratio)); }

}  // namespace

struct TrackResampler::State {
    ma_linear_resampler resampler{};
    bool ready = false;
    ma_uint32 inputRate = outputRate;
    std::vector<int16_t> out;

    void init() {
        ma_linear_resampler_config config = ma_linear_resampler_config_init(ma_format_s16, 1, outputRate, outputRate);
        // No low-pass filter: the ratio stays within a fraction of a percent of 1, and miniaudio
        // filters only while the rates differ, which would switch it on and off with the ratio.
        config.lpfOrder = 0;
        ready = ma_linear_resampler_init(&config, nullptr, &resampler) == MA_SUCCESS;
        inputRate = outputRate;
    }
    void uninit() {
        if (ready) ma_linear_resampler_uninit(&resampler, nullptr);
        ready = false;
    }
};

TrackResampler::TrackResampler() : state(std::make_unique<State>()) { state->init(); }

TrackResampler::~TrackResampler() { state->uninit(); }

void TrackResampler::reset() {
    state->uninit();
    state->init();
}

const int16_t* TrackResampler::process(const int16_t* frames, uint32_t count, double ratio, uint32_t& produced) {
    State& s = *state;
    produced = count;
    if (!s.ready || count == 0) return frames;
    const ma_uint32 inputRate = inputRateFor(ratio);
    if (inputRate != s.inputRate && ma_linear_resampler_set_rate(&s.resampler, inputRate, outputRate) == MA_SUCCESS) {
        s.inputRate = inputRate;
    }
    // Room for every frame the input can make, so that all of it is consumed.
    const size_t room = static_cast<size_t>(std::ceil(count * static_cast<double>(outputRate) / s.inputRate)) + 16;
    if (s.out.size() < room) s.out.resize(room);
    ma_uint64 in = count;
    ma_uint64 out = room;
    if (ma_linear_resampler_process_pcm_frames(&s.resampler, frames, &in, s.out.data(), &out) != MA_SUCCESS) return frames;
    produced = static_cast<uint32_t>(out);
    return s.out.data();
}
