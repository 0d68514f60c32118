// The capture side's cost of the live status, with and without a reader: one thread bumps the
// counters as the recorders do (a screen sample, 10 ms of audio, an input record) as fast as it
// can, while another thread reads the status 0, 100 or as many times a second as it can.
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "addon/live_status.h"
#include "recording_status.h"

namespace {

double bumpNanoseconds(int readsPerSecond, double seconds) {
    auto logger = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    beginLiveStatus(*logger);
    int encoder = 0;
    recordingStatus.microphone.source.store(&encoder);
    std::vector<int16_t> audio(160, 1000);
    std::atomic<bool> running{true};
    uint64_t reads = 0;
    std::thread reader([&] {
        while (running.load() && readsPerSecond != 0) {
            readRecordingStatus();
            ++reads;
            if (readsPerSecond > 0) std::this_thread::sleep_for(std::chrono::microseconds(1000000 / readsPerSecond));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    uint64_t rounds = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (int i = 0; i < 100; ++i) {
            countScreenSample();
            countAudioFrames(&encoder, audio.data(), static_cast<uint32_t>(audio.size()));
            countInputEvent();
        }
        rounds += 100;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    running.store(false);
    reader.join();
    endLiveStatus();
    std::printf("  reader %-10s: %.0f reads/s, one bump round (screen + 10 ms audio + input) %.1f ns\n",
                readsPerSecond < 0 ? "flat out" : (readsPerSecond == 0 ? "none" : "100/s"), reads / elapsed, elapsed * 1e9 / rounds);
    return elapsed * 1e9 / rounds;
}

}  // namespace

int main() {
    std::printf("status bumps, five runs each:\n");
    for (int readers : {0, 100, -1}) {
        double best = 1e9;
        for (int i = 0; i < 5; ++i) best = std::min(best, bumpNanoseconds(readers, 0.4));
        std::printf("best with reader %s: %.1f ns\n", readers < 0 ? "flat out" : (readers == 0 ? "none" : "100/s"), best);
    }
}
