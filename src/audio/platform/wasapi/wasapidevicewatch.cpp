#include "audio/platform/wasapi/wasapidevicewatch.h"

#include <atomic>
#include <mutex>

// The object Core Audio calls. COM counts its references; the watch holds one and
// Core Audio another while it is registered.
class WasapiDeviceWatch::Client final : public IMMNotificationClient
{
public:
    explicit Client(std::function<void()> changed) : changed(std::move(changed)) {}

    // After this returns no call of changed runs or will come, even from a notification
    // that Core Audio was delivering while the registration ended.
    void detach()
    {
        std::lock_guard<std::mutex> lock(mutex);
        changed = nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *object = static_cast<IMMNotificationClient *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return report(); }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return report(); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return report(); }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override
    {
        // The empty selection means the console role's output; other defaults do not matter.
        return flow == eRender && role == eConsole ? report() : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override
    {
        return S_OK;
    }

private:
    ~Client() = default;

    HRESULT report()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (changed)
            changed();
        return S_OK;
    }

    std::atomic<ULONG> references{1};
    // Guards changed, and is held while it runs, so that detach waits for a call.
    std::mutex mutex;
    std::function<void()> changed;
};

WasapiDeviceWatch::WasapiDeviceWatch(std::function<void()> changed)
    : client(new Client(std::move(changed)))
{
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator), enumerator.putVoid())))
        enumerator.reset();
    listening = enumerator && SUCCEEDED(enumerator->RegisterEndpointNotificationCallback(client));
}

WasapiDeviceWatch::~WasapiDeviceWatch()
{
    if (listening)
        enumerator->UnregisterEndpointNotificationCallback(client);
    client->detach();
    client->Release();
}
