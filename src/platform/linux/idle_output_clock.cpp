#include "platform/idle_output_clock.h"

#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr std::chrono::milliseconds serverAnswerLimit{500};  // for each request
constexpr pa_usec_t renderedAheadLimit = 100 * PA_USEC_PER_MSEC;
constexpr int maxSourceLevels = 4;  // a virtual source on a virtual source on a monitor, at most

#define PULSE_FUNCTIONS(X)                                                                            \
    X(pa_mainloop_new) X(pa_mainloop_get_api) X(pa_mainloop_prepare) X(pa_mainloop_poll)             \
    X(pa_mainloop_dispatch) X(pa_mainloop_free) X(pa_context_new) X(pa_context_connect)               \
    X(pa_context_get_state) X(pa_context_disconnect) X(pa_context_unref)                              \
    X(pa_context_get_source_info_by_name) X(pa_context_get_sink_info_by_name)                         \
    X(pa_context_suspend_sink_by_name) X(pa_operation_get_state) X(pa_operation_unref) X(pa_proplist_gets)

struct PulseCalls {
#define PULSE_DECLARE(name) decltype(&::name) name = nullptr;
    PULSE_FUNCTIONS(PULSE_DECLARE)
#undef PULSE_DECLARE
};

// libpulse is opened at run time, as miniaudio opens it: the add-on must load where it is absent.
class PulseLibrary {
public:
    PulseLibrary() : handle(dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL)) {
        if (handle == nullptr) return;
        complete = true;
#define PULSE_RESOLVE(name) complete = resolve(calls.name, #name) && complete;
        PULSE_FUNCTIONS(PULSE_RESOLVE)
#undef PULSE_RESOLVE
    }
    ~PulseLibrary() {
        if (handle != nullptr) dlclose(handle);
    }
    PulseLibrary(const PulseLibrary&) = delete;
    PulseLibrary& operator=(const PulseLibrary&) = delete;

    bool usable() const { return complete; }
    PulseCalls calls;

private:
    template <typename Function>
    bool resolve(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(handle, name));
        return function != nullptr;
    }

    void* handle;
    bool complete = false;
};

// A connection with a main loop of its own that this thread drives, each wait bounded.
class PulseConnection {
public:
    explicit PulseConnection(const PulseCalls& pulse) : pa(pulse) {
        loop = pa.pa_mainloop_new();
        if (loop == nullptr) return;
        context = pa.pa_context_new(pa.pa_mainloop_get_api(loop), "desktracks");
        if (context == nullptr || pa.pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) return;
        deadline = std::chrono::steady_clock::now() + serverAnswerLimit;
        while (iterate()) {
            const pa_context_state_t state = pa.pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                ready = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) return;
        }
    }
    ~PulseConnection() {
        if (context != nullptr) {
            pa.pa_context_disconnect(context);
            pa.pa_context_unref(context);
        }
        if (loop != nullptr) pa.pa_mainloop_free(loop);
    }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Runs the loop until `operation` is done; false when it failed or the server took too long.
    bool finish(pa_operation* operation) {
        if (operation == nullptr) return false;
        bool done = false;
        deadline = std::chrono::steady_clock::now() + serverAnswerLimit;
        while (iterate()) {
            if (pa.pa_operation_get_state(operation) != PA_OPERATION_RUNNING) {
                done = pa.pa_operation_get_state(operation) == PA_OPERATION_DONE;
                break;
            }
        }
        pa.pa_operation_unref(operation);
        return done;
    }

    const PulseCalls& pa;
    pa_context* context = nullptr;
    bool ready = false;

private:
    // One round of the loop, waiting no later than the deadline; false once it has passed.
    bool iterate() {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        return pa.pa_mainloop_prepare(loop, static_cast<int>(left.count())) >= 0 && pa.pa_mainloop_poll(loop) >= 0 &&
               pa.pa_mainloop_dispatch(loop) >= 0;
    }

    std::chrono::steady_clock::time_point deadline;
    pa_mainloop* loop = nullptr;
};

struct SourceAnswer {
    const PulseCalls* pa = nullptr;
    bool found = false;
    std::string monitoredSink;  // set when the source is a sink's monitor
    std::string master;         // set when the source is a virtual source on another one
};

void noteSource(pa_context*, const pa_source_info* info, int last, void* userdata) {
    auto& answer = *static_cast<SourceAnswer*>(userdata);
    if (last != 0 || info == nullptr) return;
    answer.found = true;
    if (info->monitor_of_sink != PA_INVALID_INDEX && info->monitor_of_sink_name != nullptr) {
        answer.monitoredSink = info->monitor_of_sink_name;
    } else if (const char* master = answer.pa->pa_proplist_gets(info->proplist, PA_PROP_DEVICE_MASTER_DEVICE)) {
        answer.master = master;
    }
}

struct SinkAnswer {
    bool asleep = false;
};

void noteSink(pa_context*, const pa_sink_info* info, int last, void* userdata) {
    if (last != 0 || info == nullptr) return;
    // Only a sink without hardware (suspending a sound card's sink would be heard), and only while
    // it has rendered far ahead: a sink already ticking in short blocks is left alone, so that
    // other listeners of its monitor lose nothing.
    const bool nullSink = info->driver != nullptr && std::strstr(info->driver, "module-null-sink") != nullptr;
    static_cast<SinkAnswer*>(userdata)->asleep = nullSink && info->latency > renderedAheadLimit;
}

void noteDone(pa_context*, int, void*) {}

// The null sink whose monitor `source` records, following virtual sources to their master.
std::optional<std::string> idleCandidateSink(PulseConnection& server, std::string source) {
    for (int level = 0; level < maxSourceLevels; ++level) {
        SourceAnswer answer;
        answer.pa = &server.pa;
        if (!server.finish(server.pa.pa_context_get_source_info_by_name(server.context, source.c_str(), noteSource, &answer)) ||
            !answer.found) {
            return std::nullopt;
        }
        if (!answer.monitoredSink.empty()) {
            SinkAnswer sink;
            if (!server.finish(server.pa.pa_context_get_sink_info_by_name(server.context, answer.monitoredSink.c_str(), noteSink, &sink)) ||
                !sink.asleep) {
                return std::nullopt;
            }
            return answer.monitoredSink;
        }
        if (answer.master.empty()) return std::nullopt;
        source = answer.master;
    }
    return std::nullopt;
}

}  // namespace

void restartIdleOutputClock(const ma_device& device) {
    if (device.pContext == nullptr || device.pContext->backend != ma_backend_pulseaudio) return;
    const std::string source(device.capture.id.pulse, strnlen(device.capture.id.pulse, sizeof device.capture.id.pulse));
    if (source.empty()) return;
    PulseLibrary library;
    if (!library.usable()) return;
    PulseConnection server(library.calls);
    if (!server.ready) return;
    const std::optional<std::string> sink = idleCandidateSink(server, source);
    if (!sink) return;
    // A null sink takes the current time as its clock when it resumes from suspension. The resume
    // is sent whatever became of the suspend request: a sink must never be left suspended.
    server.finish(library.calls.pa_context_suspend_sink_by_name(server.context, sink->c_str(), 1, noteDone, nullptr));
    server.finish(library.calls.pa_context_suspend_sink_by_name(server.context, sink->c_str(), 0, noteDone, nullptr));
}
