#include <windows.h>

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/default_output_watch.h"

// The default render endpoint (console role), followed through IMMNotificationClient on a thread
// of the watch's own: the notifications arrive on a system thread whatever the caller's apartment,
// and the watch must not change the apartment of the recorder thread that creates it.
namespace {

using Microsoft::WRL::ComPtr;

std::string toUtf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

class NoWatch final : public DefaultOutputWatch {
public:
    uint64_t changes() const override { return 0; }
    std::string currentDefault() const override { return {}; }
    bool alive() const override { return false; }
};

// What the notification thread hands over: the current default and how often it changed.
struct DefaultState {
    mutable std::mutex mutex;
    std::string endpoint;  // under mutex
    std::atomic<uint64_t> changes{0};

    void set(std::string id, bool isChange) {
        std::lock_guard<std::mutex> lock(mutex);
        // The system calls once per role (console, multimedia, communications): only the console
        // role's call for the render flow is taken, and only when the endpoint really differs.
        if (isChange && id != endpoint) changes.fetch_add(1);
        endpoint = std::move(id);
    }
};

class NotificationClient final : public IMMNotificationClient {
public:
    explicit NotificationClient(DefaultState& state) : state(state) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Owned by the watch's thread, which unregisters it before it goes.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
        if (flow == eRender && role == eConsole) state.set(toUtf8(id), true);  // null id: no output left
        return S_OK;
    }
    STDMETHODIMP OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    STDMETHODIMP OnDeviceAdded(LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

private:
    DefaultState& state;
};

class MmDefaultOutputWatch final : public DefaultOutputWatch {
public:
    MmDefaultOutputWatch() { thread = std::thread([this] { run(); }); }

    ~MmDefaultOutputWatch() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    MmDefaultOutputWatch(const MmDefaultOutputWatch&) = delete;
    MmDefaultOutputWatch& operator=(const MmDefaultOutputWatch&) = delete;

    // Waits for the registration; false when the platform could not be watched.
    bool ready() {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return phase != Phase::starting; });
        return phase == Phase::registered;
    }

    uint64_t changes() const override { return state.changes.load(); }
    std::string currentDefault() const override {
        std::lock_guard<std::mutex> lock(state.mutex);
        return state.endpoint;
    }
    bool alive() const override { return true; }

private:
    enum class Phase { starting, registered, failed };

    void run() {
        const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            ComPtr<IMMDeviceEnumerator> enumerator;
            NotificationClient client(state);
            HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(&enumerator));
            if (SUCCEEDED(result)) {
                ComPtr<IMMDevice> endpoint;
                LPWSTR id = nullptr;
                if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &endpoint)) &&
                    SUCCEEDED(endpoint->GetId(&id))) {
                    state.set(toUtf8(id), false);
                    CoTaskMemFree(id);
                }
                result = enumerator->RegisterEndpointNotificationCallback(&client);
            }
            std::unique_lock<std::mutex> lock(mutex);
            phase = SUCCEEDED(result) ? Phase::registered : Phase::failed;
            wake.notify_all();
            wake.wait(lock, [this] { return stopping; });
            lock.unlock();
            if (SUCCEEDED(result)) enumerator->UnregisterEndpointNotificationCallback(&client);
        }
        if (comStarted) CoUninitialize();
    }

    DefaultState state;
    std::mutex mutex;
    std::condition_variable wake;
    Phase phase = Phase::starting;  // under mutex
    bool stopping = false;          // under mutex
    std::thread thread;
};

}  // namespace

std::unique_ptr<DefaultOutputWatch> watchDefaultOutput() {
    auto watch = std::make_unique<MmDefaultOutputWatch>();
    if (!watch->ready()) return std::make_unique<NoWatch>();
    return watch;
}
