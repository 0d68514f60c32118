// Cost of the input dispatch procedure per event, on a real display: events the 10 ms gate
// drops, events it keeps (clock, cursor query, record), and the whole procedure under a stream
// of events arriving faster than the gate.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "input/cursor_catalogue.h"
#include "input/input_record_writer.h"
#include "input/input_records.h"
#include "run_flags.h"
#include "wall_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Percentiles {
    double p50;
    double p99;
};

Percentiles percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

uiohook_event move(int i) {
    uiohook_event event{};
    event.type = EVENT_MOUSE_MOVED;
    event.data.mouse.x = static_cast<int16_t>(i % 1920);
    event.data.mouse.y = static_cast<int16_t>(i % 1080);
    return event;
}

template <class Call>
Percentiles measure(int count, Call call) {
    std::vector<double> micros;
    micros.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        call(i);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return percentiles(std::move(micros));
}

void print(const char* what, Percentiles p) { std::printf("%-44s p50 %8.2f us   p99 %8.2f us\n", what, p.p50, p.p99); }

}  // namespace

int main() {
    constexpr int count = 20000;
    setAllRunFlags(true);
    const auto captureStart = Clock::now();
    captureCursorShapes();
    std::printf("standard cursors measured (theme loaded) in %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - captureStart).count());

    // Room for every kept record: the writer is drained only between the measurements.
    InputRecordWriter writer(nullptr, nullptr, 2 * count);
    inputQueue = &writer.queue();
    resetInputRecords();
    const int64_t base = wallClockMillis();
    handleInputEvent(move(0), base);
    print("dropped by the gate", measure(count, [&](int i) { handleInputEvent(move(i), base + 1); }));

    writer.drain();
    resetInputRecords();
    print("kept (cursor query + record)", measure(count, [&](int i) { handleInputEvent(move(i), base + 10 * (i + 1)); }));

    writer.drain();
    resetInputRecords();
    print("inputDispatchProc, back-to-back events", measure(count, [&](int i) {
              uiohook_event event = move(i);
              inputDispatchProc(&event);
          }));
    writer.drain();
    std::printf("records kept from %d back-to-back events: %zu\n", count, positionRecords.size());

    inputQueue = nullptr;
    resetInputRecords();
    clearCursorShapes();
    setAllRunFlags(false);
    return 0;
}
