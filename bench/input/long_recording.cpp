// An hour of mouse records through the recorder's own input thread (recordInput with a stand-in
// for libuiohook that delivers 360,000 moves 10 ms apart, plus a press and release every 500
// moves), with the journal on: the dispatch time per event (p50, p99, max), the time from the
// hook's return to the thread's end (the input part of end(): positions.json and clicks.json),
// and the peak memory. Then recover on the journal it left: time and peak memory.
// Built against either side's libdesktracks_core.a by bench/input/long_recording.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "addon/project_recovery.h"
#include "input/input_recorder.h"
#include "input/input_records.h"
#include "recording_journal.h"
#include "recording_settings.h"
#include "run_flags.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int moves = 360000;
std::vector<double> dispatchMicros;
Clock::time_point hookReturned;
dispatcher_t dispatch = nullptr;

long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

uiohook_event mouse(event_type type, int i) {
    uiohook_event event{};
    event.type = type;
    event.data.mouse.x = static_cast<int16_t>(i % 1920);
    event.data.mouse.y = static_cast<int16_t>(i % 1080);
    event.data.mouse.button = type == EVENT_MOUSE_MOVED ? 0 : 1;
    return event;
}

const InputHookLibrary library{
    [](dispatcher_t proc) { dispatch = proc; },
    [] {
        uiohook_event enabled{EVENT_HOOK_ENABLED};
        dispatch(&enabled);
        const int64_t base = 1'700'000'000'000;
        for (int i = 0; i < moves; ++i) {
            const uiohook_event event = mouse(EVENT_MOUSE_MOVED, i);
            const auto start = Clock::now();
            handleInputEvent(event, base + 10 * static_cast<int64_t>(i));
            dispatchMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            // A real hour takes an hour: let the recorder's other threads keep up, as they would.
            if (i % 5000 == 4999) std::this_thread::sleep_for(std::chrono::milliseconds(150));
            if (i % 500 == 250) {
                handleInputEvent(mouse(EVENT_MOUSE_PRESSED, i), base + 10 * static_cast<int64_t>(i) + 1);
                handleInputEvent(mouse(EVENT_MOUSE_RELEASED, i), base + 10 * static_cast<int64_t>(i) + 2);
            }
        }
        uiohook_event disabled{EVENT_HOOK_DISABLED};
        dispatch(&disabled);
        hookReturned = Clock::now();
        return int{UIOHOOK_SUCCESS};
    },
    [] { return int{UIOHOOK_SUCCESS}; }};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <empty project directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    dispatchMicros.reserve(moves);
    RecordingSettings settings;
    settings.projectDir = dir;
    settings.logger = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    settings.journal = RecordingJournal::create(dir);
    setAllRunFlags(true);
    const long baseKb = statusKb("VmRSS:");
    resetPeak();
    recordInput(settings, &library, "");
    const double endSeconds = std::chrono::duration<double>(Clock::now() - hookReturned).count();
    const long peakKb = statusKb("VmHWM:");
    setAllRunFlags(false);
    settings.journal.reset();

    std::vector<double> sorted = dispatchMicros;
    std::sort(sorted.begin(), sorted.end());
    std::printf("dispatch per move (us): p50 %.3f  p99 %.3f  max %.1f\n", sorted[sorted.size() / 2], sorted[sorted.size() * 99 / 100],
                sorted.back());
    std::printf("input part of end(): %.3f s; peak memory over the start: %ld KB (compact records: %zu KB)\n", endSeconds,
                peakKb - baseKb, static_cast<size_t>(moves) * 32 / 1024);

    std::filesystem::rename(dir / "positions.json", dir / "positions.end.json");
    std::filesystem::rename(dir / "clicks.json", dir / "clicks.end.json");
    const long beforeRecoverKb = statusKb("VmRSS:");
    resetPeak();
    const auto recoverStart = Clock::now();
    recoverProject(dir);
    const double recoverSeconds = std::chrono::duration<double>(Clock::now() - recoverStart).count();
    std::printf("recover from the journal (%ju bytes): %.3f s; peak memory over the start: %ld KB\n",
                static_cast<uintmax_t>(std::filesystem::file_size(dir / journalFileName)), recoverSeconds,
                statusKb("VmHWM:") - beforeRecoverKb);
    return 0;
}
