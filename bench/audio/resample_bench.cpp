// CPU of keeping a track on the clock, per second of audio: the audio clock and the resampler
// (a device 500 ppm fast, 25 ms callbacks), the resampler alone, and the same frames copied as
// they came, run alternately, several rounds.
//
//   resample_bench [audio seconds per round=600] [rounds=5]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio_clock.h"
#include "audio/track_resampler.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t period = 400;

// Returns CPU microseconds per audio second.
double corrected(double seconds) {
    int64_t steady = 0;
    AudioClock clock([&steady] { return steady; }, [&steady] { return steady; });
    TrackResampler resampler;
    std::vector<int16_t> in(period), out;
    for (uint32_t i = 0; i < period; ++i) in[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    const uint64_t callbacks = static_cast<uint64_t>(seconds * 16000 / period);
    uint64_t sink = 0;
    const auto began = Clock::now();
    for (uint64_t n = 0; n < callbacks; ++n) {
        steady = static_cast<int64_t>((n + 1) * period * 10000000.0 / (16000 * 1.0005));
        const AudioClock::Placement p = clock.place(period, std::nullopt, false, false);
        uint32_t produced = 0;
        const int16_t* frames = resampler.process(in.data() + p.dropped, period - p.dropped, p.ratio, produced);
        clock.wrote(period - p.dropped, produced);
        sink += static_cast<uint64_t>(frames[0]) + produced;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - began).count();
    if (sink == 42) std::puts("");
    return us / seconds;
}

// The resampler alone, at a fixed ratio.
double resampled(double seconds) {
    TrackResampler resampler;
    std::vector<int16_t> in(period);
    for (uint32_t i = 0; i < period; ++i) in[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    const uint64_t callbacks = static_cast<uint64_t>(seconds * 16000 / period);
    uint64_t sink = 0;
    const auto began = Clock::now();
    for (uint64_t n = 0; n < callbacks; ++n) {
        uint32_t produced = 0;
        const int16_t* frames = resampler.process(in.data(), period, 1 / 1.0005, produced);
        sink += static_cast<uint64_t>(frames[n % produced]) + produced;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - began).count();
    if (sink == 42) std::puts("");
    return us / seconds;
}

double copied(double seconds) {
    std::vector<int16_t> in(period), out(period);
    for (uint32_t i = 0; i < period; ++i) in[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    const uint64_t callbacks = static_cast<uint64_t>(seconds * 16000 / period);
    uint64_t sink = 0;
    const auto began = Clock::now();
    for (uint64_t n = 0; n < callbacks; ++n) {
        std::memcpy(out.data(), in.data(), period * sizeof(int16_t));
        sink += static_cast<uint64_t>(out[n % period]);
        asm volatile("" : : "r"(out.data()) : "memory");
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - began).count();
    if (sink == 42) std::puts("");
    return us / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::printf("round  clock+resampler us/audio s  resampler alone  copy us/audio s\n");
    for (int r = 0; r < rounds; ++r) {
        const double a = corrected(seconds);
        const double b = resampled(seconds);
        const double c = copied(seconds);
        std::printf("%5d  %26.1f  %15.1f  %15.2f\n", r + 1, a, b, c);
    }
    return 0;
}
