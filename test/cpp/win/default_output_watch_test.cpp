// The Windows watch on the default output, on a scripted endpoint enumerator: the real watch
// thread, its registration and its teardown run; only the system's endpoints are played.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win/mm_default_output_watch.h"

namespace {

using Microsoft::WRL::ComPtr;

class ScriptedEndpoint final : public IMMDevice {
public:
    explicit ScriptedEndpoint(std::wstring id) : id(std::move(id)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDevice)) {
            *object = static_cast<IMMDevice*>(this);
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
    STDMETHODIMP Activate(REFIID, DWORD, PROPVARIANT*, void**) override { return E_NOTIMPL; }
    STDMETHODIMP OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    STDMETHODIMP GetId(LPWSTR* out) override {
        const size_t bytes = (id.size() + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        std::memcpy(*out, id.c_str(), bytes);
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD* state) override {
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }

private:
    ~ScriptedEndpoint() = default;
    const std::wstring id;
    std::atomic<ULONG> references{1};
};

// The enumerator's default render endpoint and its notifications, as a test moves them.
class ScriptedEnumerator : public IMMDeviceEnumerator {
public:
    HRESULT registerResult = S_OK;
    // Moved to this endpoint, with its notification, while the first read is under way: the
    // read answers what it found before the move.
    std::wstring moveDuringFirstRead;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDeviceEnumerator)) {
            *object = static_cast<IMMDeviceEnumerator*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }  // lives on the test's stack

    STDMETHODIMP EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice** endpoint) override {
        std::wstring found;
        {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back("read");
            found = current;
        }
        *endpoint = nullptr;
        if (!moveDuringFirstRead.empty()) {
            const std::wstring to = std::exchange(moveDuringFirstRead, std::wstring());
            moveTo(to);
        }
        if (found.empty()) return E_NOTFOUND;
        *endpoint = new ScriptedEndpoint(found);
        return S_OK;
    }
    STDMETHODIMP RegisterEndpointNotificationCallback(IMMNotificationClient* notify) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("register");
        if (FAILED(registerResult)) return registerResult;
        // Holding a reference as older Windows versions do, so a late call can be tried.
        client = notify;
        registered = true;
        return S_OK;
    }
    STDMETHODIMP UnregisterEndpointNotificationCallback(IMMNotificationClient* notify) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("unregister");
        if (notify != client.Get()) return E_NOTFOUND;
        registered = false;
        return S_OK;
    }

    // As the system does: the new default is in place, then every role of the flow is told,
    // each on its own call.
    void moveTo(const std::wstring& endpoint, EDataFlow flow = eRender) {
        ComPtr<IMMNotificationClient> notify;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (flow == eRender) current = endpoint;
            if (registered) notify = client;
        }
        if (!notify) return;
        for (ERole role : {eConsole, eMultimedia, eCommunications}) notify->OnDefaultDeviceChanged(flow, role, endpoint.c_str());
    }
    std::vector<std::string> callsSoFar() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    ComPtr<IMMNotificationClient> heldClient() {
        std::lock_guard<std::mutex> lock(mutex);
        return client;
    }
    void forgetClient() {
        std::lock_guard<std::mutex> lock(mutex);
        client.Reset();
    }

private:
    std::mutex mutex;
    std::wstring current = L"speakers";
    std::vector<std::string> calls;
    ComPtr<IMMNotificationClient> client;
    bool registered = false;
    std::atomic<ULONG> references{1};
};

std::unique_ptr<DefaultOutputWatch> watch(ScriptedEnumerator& enumerator) {
    return watchDefaultOutputWith([&enumerator](IMMDeviceEnumerator** out) {
        enumerator.AddRef();
        *out = &enumerator;
        return S_OK;
    });
}

// The watch's thread reads the default after each notification.
bool waitFor(const DefaultOutputWatch& watch, const std::string& endpoint, uint64_t changes) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (watch.currentDefault() != endpoint || watch.changes() != changes) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(MmDefaultOutputWatch, AChangeWhileTheFirstDefaultIsReadIsNotLost) {
    ScriptedEnumerator enumerator;
    enumerator.moveDuringFirstRead = L"headphones";
    const std::unique_ptr<DefaultOutputWatch> watched = watch(enumerator);
    ASSERT_TRUE(watched->alive());
    EXPECT_TRUE(waitFor(*watched, "headphones", 1)) << watched->currentDefault() << ", " << watched->changes() << " changes";
    const std::vector<std::string> calls = enumerator.callsSoFar();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "register") << "registered before the first read";
}

TEST(MmDefaultOutputWatch, CountsOnlyANewRenderDefault) {
    ScriptedEnumerator enumerator;
    const std::unique_ptr<DefaultOutputWatch> watched = watch(enumerator);
    ASSERT_TRUE(waitFor(*watched, "speakers", 0));
    enumerator.moveTo(L"headset microphone", eCapture);
    enumerator.moveTo(L"speakers");  // told again, every role: the same endpoint
    enumerator.moveTo(L"headphones");
    EXPECT_TRUE(waitFor(*watched, "headphones", 1)) << watched->currentDefault() << ", " << watched->changes() << " changes";
    enumerator.moveTo(L"");  // the last output unplugged
    EXPECT_TRUE(waitFor(*watched, "", 2)) << watched->currentDefault() << ", " << watched->changes() << " changes";
}

TEST(MmDefaultOutputWatch, UnregistersAtTheEndAndOutlivesALateCall) {
    ScriptedEnumerator enumerator;
    ComPtr<IMMNotificationClient> client;
    {
        const std::unique_ptr<DefaultOutputWatch> watched = watch(enumerator);
        ASSERT_TRUE(watched->alive());
        client = enumerator.heldClient();
        ASSERT_NE(client.Get(), nullptr);
    }
    EXPECT_EQ(enumerator.callsSoFar().back(), "unregister");
    // A notification already on its way when the watch went: it reaches a live client, which
    // goes with the last reference.
    EXPECT_EQ(client->OnDefaultDeviceChanged(eRender, eConsole, L"headphones"), S_OK);
    enumerator.forgetClient();
    EXPECT_EQ(client.Detach()->Release(), 0u) << "the client goes with the last reference";

    ScriptedEnumerator refusing;
    refusing.registerResult = E_OUTOFMEMORY;
    const std::unique_ptr<DefaultOutputWatch> unwatched = watch(refusing);
    EXPECT_FALSE(unwatched->alive());
    EXPECT_EQ(unwatched->changes(), 0u);
}

}  // namespace
