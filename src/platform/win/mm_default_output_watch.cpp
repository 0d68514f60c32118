#include "platform/win/mm_default_output_watch.h"

#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/win/com_adopt.h"

// The default render endpoint (console role), followed through IMMNotificationClient on a thread
// of the watch's own: the notifications arrive on a system thread whatever the caller's apartment,
// and the watch must not change the apartment of the recorder thread that creates it.
//
// The notification only wakes that thread, which then asks the enumerator for the default: a
// callback must not block or call back into the enumerator, and the endpoint read after the
// last wake-up is the newest whatever order the system's threads ran in.
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

class EventHandle {
public:
    explicit EventHandle(bool manualReset) : handle(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~EventHandle() {
        if (handle != nullptr) CloseHandle(handle);
    }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

class NoWatch final : public DefaultOutputWatch {
public:
    uint64_t changes() const override { return 0; }
    std::string currentDefault() const override { return {}; }
    bool alive() const override { return false; }
};

// Counted like any COM object: some Windows versions keep a reference of their own until
// UnregisterEndpointNotificationCallback returns or later, so a call that comes late must still
// find the object, and the object touches nothing but its own event.
class NotificationClient final : public IMMNotificationClient {
public:
    HANDLE changed() const { return event.get(); }

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
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }

    // The system calls once per role (console, multimedia, communications) and flow.
    STDMETHODIMP OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == eRender && role == eConsole) SetEvent(event.get());
        return S_OK;
    }
    STDMETHODIMP OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    STDMETHODIMP OnDeviceAdded(LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

private:
    ~NotificationClient() = default;

    std::atomic<ULONG> references{1};
    EventHandle event{false};
};

class MmDefaultOutputWatch final : public DefaultOutputWatch {
public:
    explicit MmDefaultOutputWatch(EndpointEnumeratorFactory create) : create(std::move(create)) {
        thread = std::thread([this] { run(); });
    }

    ~MmDefaultOutputWatch() override {
        SetEvent(stop.get());
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

    uint64_t changes() const override { return changeCount.load(); }
    std::string currentDefault() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return endpoint;
    }
    bool alive() const override { return true; }

private:
    enum class Phase { starting, registered, failed };

    void run() {
        const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            const ComPtr<NotificationClient> client = adoptReference(new (std::nothrow) NotificationClient());
            ComPtr<IMMDeviceEnumerator> enumerator;
            HRESULT result = client && client->changed() != nullptr && stop.get() != nullptr ? create(&enumerator) : E_OUTOFMEMORY;
            if (SUCCEEDED(result) && !enumerator) result = E_POINTER;
            // Registered before the first read, so that a change in between wakes the loop below
            // instead of going unseen.
            if (SUCCEEDED(result)) result = enumerator->RegisterEndpointNotificationCallback(client.Get());
            if (SUCCEEDED(result)) readDefault(*enumerator.Get(), false);
            {
                std::lock_guard<std::mutex> lock(mutex);
                phase = SUCCEEDED(result) ? Phase::registered : Phase::failed;
            }
            wake.notify_all();
            if (SUCCEEDED(result)) {
                const HANDLE events[] = {stop.get(), client->changed()};
                while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) readDefault(*enumerator.Get(), true);
                enumerator->UnregisterEndpointNotificationCallback(client.Get());
            }
        }  // the enumerator and our reference to the client go before COM does
        if (comStarted) CoUninitialize();
    }

    // The default as the enumerator has it now; "" when there is no output at all. A read that
    // fails otherwise leaves the last one.
    void readDefault(IMMDeviceEnumerator& enumerator, bool isChange) {
        ComPtr<IMMDevice> device;
        std::string now;
        const HRESULT result = enumerator.GetDefaultAudioEndpoint(eRender, eConsole, &device);
        if (SUCCEEDED(result)) {
            LPWSTR id = nullptr;
            if (FAILED(device->GetId(&id))) return;
            now = toUtf8(id);
            CoTaskMemFree(id);
        } else if (result != E_NOTFOUND) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (isChange && now != endpoint) changeCount.fetch_add(1);
        endpoint = std::move(now);
    }

    const EndpointEnumeratorFactory create;
    EventHandle stop{true};
    mutable std::mutex mutex;
    std::condition_variable wake;
    Phase phase = Phase::starting;  // under mutex
    std::string endpoint;           // under mutex
    std::atomic<uint64_t> changeCount{0};
    std::thread thread;
};

}  // namespace

std::unique_ptr<DefaultOutputWatch> watchDefaultOutputWith(EndpointEnumeratorFactory create) {
    auto watch = std::make_unique<MmDefaultOutputWatch>(std::move(create));
    if (!watch->ready()) return std::make_unique<NoWatch>();
    return watch;
}

std::unique_ptr<DefaultOutputWatch> watchDefaultOutput() {
    return watchDefaultOutputWith([](IMMDeviceEnumerator** enumerator) {
        return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(enumerator));
    });
}
