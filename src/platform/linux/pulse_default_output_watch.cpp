#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/default_output_watch.h"

// The default sink of PulseAudio (or pipewire-pulse), followed through the server's own change
// events on a connection of the watch's own: one small message per change, nothing polled.
namespace {

// libpulse as miniaudio loads it: opened at run time, so a machine without it still records.
struct PulseCalls {
    decltype(&::pa_threaded_mainloop_new) mainloopNew = nullptr;
    decltype(&::pa_threaded_mainloop_free) mainloopFree = nullptr;
    decltype(&::pa_threaded_mainloop_start) mainloopStart = nullptr;
    decltype(&::pa_threaded_mainloop_stop) mainloopStop = nullptr;
    decltype(&::pa_threaded_mainloop_lock) mainloopLock = nullptr;
    decltype(&::pa_threaded_mainloop_unlock) mainloopUnlock = nullptr;
    decltype(&::pa_threaded_mainloop_get_api) mainloopApi = nullptr;
    decltype(&::pa_context_new) contextNew = nullptr;
    decltype(&::pa_context_unref) contextUnref = nullptr;
    decltype(&::pa_context_connect) contextConnect = nullptr;
    decltype(&::pa_context_disconnect) contextDisconnect = nullptr;
    decltype(&::pa_context_get_state) contextState = nullptr;
    decltype(&::pa_context_set_state_callback) setStateCallback = nullptr;
    decltype(&::pa_context_set_subscribe_callback) setSubscribeCallback = nullptr;
    decltype(&::pa_context_subscribe) subscribe = nullptr;
    decltype(&::pa_context_get_server_info) serverInfo = nullptr;
    decltype(&::pa_operation_unref) operationUnref = nullptr;

    PulseCalls() {
        void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;  // kept open for the process, as miniaudio keeps it
        const auto load = [library](auto& call, const char* name) { call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name)); };
        load(mainloopNew, "pa_threaded_mainloop_new");
        load(mainloopFree, "pa_threaded_mainloop_free");
        load(mainloopStart, "pa_threaded_mainloop_start");
        load(mainloopStop, "pa_threaded_mainloop_stop");
        load(mainloopLock, "pa_threaded_mainloop_lock");
        load(mainloopUnlock, "pa_threaded_mainloop_unlock");
        load(mainloopApi, "pa_threaded_mainloop_get_api");
        load(contextNew, "pa_context_new");
        load(contextUnref, "pa_context_unref");
        load(contextConnect, "pa_context_connect");
        load(contextDisconnect, "pa_context_disconnect");
        load(contextState, "pa_context_get_state");
        load(setStateCallback, "pa_context_set_state_callback");
        load(setSubscribeCallback, "pa_context_set_subscribe_callback");
        load(subscribe, "pa_context_subscribe");
        load(serverInfo, "pa_context_get_server_info");
        load(operationUnref, "pa_operation_unref");
    }
    bool usable() const {
        return mainloopNew && mainloopFree && mainloopStart && mainloopStop && mainloopLock && mainloopUnlock && mainloopApi &&
               contextNew && contextUnref && contextConnect && contextDisconnect && contextState && setStateCallback &&
               setSubscribeCallback && subscribe && serverInfo && operationUnref;
    }
};

const PulseCalls& pulse() {
    static const PulseCalls calls;
    return calls;
}

class NoWatch final : public DefaultOutputWatch {
public:
    uint64_t changes() const override { return 0; }
    std::string currentDefault() const override { return {}; }
    bool alive() const override { return false; }
};

class PulseDefaultOutputWatch final : public DefaultOutputWatch {
public:
    PulseDefaultOutputWatch() : calls(pulse()) {}

    ~PulseDefaultOutputWatch() override {
        if (mainloop == nullptr) return;
        if (context != nullptr) {
            calls.mainloopLock(mainloop);
            calls.contextDisconnect(context);
            calls.mainloopUnlock(mainloop);
        }
        calls.mainloopStop(mainloop);
        if (context != nullptr) calls.contextUnref(context);
        calls.mainloopFree(mainloop);
    }
    PulseDefaultOutputWatch(const PulseDefaultOutputWatch&) = delete;
    PulseDefaultOutputWatch& operator=(const PulseDefaultOutputWatch&) = delete;

    // Connects and waits briefly for the first answer, so that a change right after the start is
    // already a change.
    bool start() {
        if (!calls.usable()) return false;
        mainloop = calls.mainloopNew();
        if (mainloop == nullptr) return false;
        context = calls.contextNew(calls.mainloopApi(mainloop), "desktracks default output watch");
        if (context == nullptr) return false;
        calls.setStateCallback(context, onState, this);
        calls.setSubscribeCallback(context, onServerEvent, this);
        if (calls.contextConnect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        if (calls.mainloopStart(mainloop) < 0) return false;
        std::unique_lock<std::mutex> lock(mutex);
        answered.wait_for(lock, std::chrono::seconds(1), [this] { return known || failed; });
        return known;
    }

    uint64_t changes() const override { return changeCount.load(); }
    std::string currentDefault() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return sinkName;
    }
    bool alive() const override { return !failed.load(); }

private:
    static void onState(pa_context* context, void* user) {
        auto* self = static_cast<PulseDefaultOutputWatch*>(user);
        switch (self->calls.contextState(context)) {
        case PA_CONTEXT_READY:
            if (pa_operation* op = self->calls.subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
                self->calls.operationUnref(op);
            }
            self->askServer(context);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED: {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->failed = true;
            self->answered.notify_all();
            break;
        }
        default: break;
        }
    }

    static void onServerEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t, void* user) {
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            static_cast<PulseDefaultOutputWatch*>(user)->askServer(context);
        }
    }

    void askServer(pa_context* context) {
        if (pa_operation* op = calls.serverInfo(context, onServerInfo, this)) calls.operationUnref(op);
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* user) {
        auto* self = static_cast<PulseDefaultOutputWatch*>(user);
        if (info == nullptr) return;
        const std::string name = info->default_sink_name != nullptr ? info->default_sink_name : "";
        std::lock_guard<std::mutex> lock(self->mutex);
        // Server events come for other changes too (the default source, a sample cache): only a
        // new default sink counts.
        if (self->known && name != self->sinkName) self->changeCount.fetch_add(1);
        self->sinkName = name;
        self->known = true;
        self->answered.notify_all();
    }

    const PulseCalls& calls;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::string sinkName;  // under mutex
    bool known = false;    // under mutex
    std::atomic<bool> failed{false};
    std::atomic<uint64_t> changeCount{0};
};

}  // namespace

std::unique_ptr<DefaultOutputWatch> watchDefaultOutput() {
    auto watch = std::make_unique<PulseDefaultOutputWatch>();
    if (!watch->start()) return std::make_unique<NoWatch>();
    return watch;
}
