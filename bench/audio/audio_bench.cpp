// Drives the three audio recorders directly (no screen or input threads) and prints, per track:
// the captured duration against the wall-clock recording time (drift), the delay from launching
// the thread to the first captured frame, and the time the thread takes to end after its run
// flag falls.
//
//   audio_bench <projectDir> <microphone name as getMics lists it> <seconds>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "audio/capture_device_list.h"
#include "audio/mic_recorder.h"
#include "audio/playback_recorder.h"
#include "audio/silent_player.h"
#include "recording_settings.h"
#include "run_flags.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

uint64_t fileSize(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
}

// Frames in a finished 16-bit mono WAV written by miniaudio (44-byte header).
uint64_t wavFrames(const std::filesystem::path& file) {
    const uint64_t size = fileSize(file);
    return size > 44 ? (size - 44) / 2 : 0;
}

// The encoder writes through a stdio buffer, so the file first grows when one buffer of header
// and samples is flushed. The first frame was captured that many frames' worth of time earlier.
struct FirstData {
    Clock::time_point seen{};
    uint64_t bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <projectDir> <microphone name> <seconds>\n", argv[0]);
        return 2;
    }
    RecordingSettings settings;
    settings.projectDir = argv[1];
    const CaptureDeviceList devices = listCaptureDevices();
    for (size_t i = 0; i < devices.names.size(); ++i) {
        if (devices.names[i] == argv[2]) settings.micIndex = static_cast<int32_t>(i);
    }
    if (settings.micIndex < 0) {
        std::fprintf(stderr, "no capture device named %s\n", argv[2]);
        return 1;
    }
    settings.systemAudioIndex = 0;
    const double seconds = std::atof(argv[3]);
    std::filesystem::create_directories(settings.projectDir);
    settings.logger = spdlog::basic_logger_mt("basic_logger", (settings.projectDir / "recorder.log").string(), true);

    const std::filesystem::path mic = settings.projectDir / "mivox.wav";
    const std::filesystem::path playback = settings.projectDir / "output.wav";
    std::filesystem::remove(mic);
    std::filesystem::remove(playback);

    setAllRunFlags(true);
    const Clock::time_point launched = Clock::now();
    std::thread silentThread(runSilentPlayer, settings);
    std::thread playbackThread(runPlaybackRecorder, settings);
    std::thread micThread(runMicRecorder, settings);

    FirstData micFirst;
    FirstData playbackFirst;
    const Clock::time_point until = launched + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < until) {
        for (auto [file, first] : {std::pair{&mic, &micFirst}, std::pair{&playback, &playbackFirst}}) {
            if (first->bytes == 0) {
                const uint64_t size = fileSize(*file);
                if (size > 0) *first = FirstData{Clock::now(), size};
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const Clock::time_point lowered = Clock::now();
    setAllRunFlags(false);
    silentThread.join();
    const Clock::time_point silentEnded = Clock::now();
    playbackThread.join();
    const Clock::time_point playbackEnded = Clock::now();
    micThread.join();
    const Clock::time_point micEnded = Clock::now();

    const double wallMs = millisSince(launched, lowered);
    auto report = [&](const char* name, const std::filesystem::path& file, const FirstData& first) {
        const double capturedMs = wavFrames(file) / 16.0;
        const double firstFrameMs =
            first.bytes == 0 ? -1 : millisSince(launched, first.seen) - (first.bytes - 44) / 32.0;
        std::printf("%-9s frames %8llu  captured %9.1f ms  wall %9.1f ms  captured-wall %+7.1f ms  first frame ~%6.1f ms after launch\n",
                    name, static_cast<unsigned long long>(wavFrames(file)), capturedMs, wallMs, capturedMs - wallMs,
                    firstFrameMs);
    };
    report("mic", mic, micFirst);
    report("playback", playback, playbackFirst);
    std::printf("end: silent %.1f ms, playback %.1f ms, mic %.1f ms, all audio threads %.1f ms\n",
                millisSince(lowered, silentEnded), millisSince(silentEnded, playbackEnded),
                millisSince(playbackEnded, micEnded), millisSince(lowered, micEnded));
    spdlog::drop("basic_logger");
    return 0;
}
