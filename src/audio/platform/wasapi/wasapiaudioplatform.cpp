#include "audio/platform/wasapi/wasapiaudioplatform.h"

#include "audio/platform/wasapi/comapartment.h"
#include "audio/platform/wasapi/comptr.h"
#include "audio/platform/wasapi/wasapidevicewatch.h"
#include "audio/platform/wasapi/wasapiendpoint.h"

#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propidl.h>

namespace {

// PKEY_Device_FriendlyName, spelt out so that no import library has to provide it.
constexpr PROPERTYKEY friendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

ComPtr<IMMDeviceEnumerator> createEnumerator()
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator), enumerator.putVoid())))
        enumerator.reset();
    return enumerator;
}

// The default render endpoint for the console role.
ComPtr<IMMDevice> defaultOutput(IMMDeviceEnumerator &enumerator)
{
    ComPtr<IMMDevice> device;
    if (FAILED(enumerator.GetDefaultAudioEndpoint(eRender, eConsole, device.put())))
        device.reset();
    return device;
}

bool isOutput(IMMDevice &device)
{
    ComPtr<IMMEndpoint> endpoint;
    EDataFlow flow = eCapture;
    return SUCCEEDED(device.QueryInterface(__uuidof(IMMEndpoint), endpoint.putVoid())) &&
           SUCCEEDED(endpoint->GetDataFlow(&flow)) && flow == eRender;
}

// The endpoint's id and friendly name; false when either cannot be read. A name that is
// not a string is read as empty rather than dropping the endpoint.
bool describe(IMMDevice &device, DeviceInfo &info)
{
    LPWSTR id = nullptr;
    if (FAILED(device.GetId(&id)))
        return false;
    info.id = id;
    CoTaskMemFree(id);

    ComPtr<IPropertyStore> store;
    if (FAILED(device.OpenPropertyStore(STGM_READ, store.put())))
        return false;
    PROPVARIANT name;
    PropVariantInit(&name);
    if (FAILED(store->GetValue(friendlyNameKey, &name)))
        return false;
    info.name = name.vt == VT_LPWSTR && name.pwszVal ? name.pwszVal : L"";
    PropVariantClear(&name);
    return true;
}

} // namespace

std::unique_ptr<AudioPlatform> createSystemAudioPlatform()
{
    return std::make_unique<WasapiAudioPlatform>();
}

WasapiAudioPlatform::WasapiAudioPlatform() = default;

WasapiAudioPlatform::~WasapiAudioPlatform() = default;

std::vector<DeviceInfo> WasapiAudioPlatform::outputEndpoints()
{
    const ComApartment apartment;
    std::vector<DeviceInfo> endpoints;
    const ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    ComPtr<IMMDeviceCollection> collection;
    if (!enumerator ||
        FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.put())))
        return endpoints;
    UINT count = 0;
    if (FAILED(collection->GetCount(&count)))
        return endpoints;
    for (UINT index = 0; index < count; ++index) {
        ComPtr<IMMDevice> device;
        DeviceInfo info;
        if (SUCCEEDED(collection->Item(index, device.put())) && describe(*device, info))
            endpoints.push_back(std::move(info));
    }
    return endpoints;
}

std::unique_ptr<AudioEndpoint> WasapiAudioPlatform::openEndpoint(const std::wstring &id)
{
    const ComApartment apartment;
    const ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    if (!enumerator)
        return {};
    ComPtr<IMMDevice> device;
    if (id.empty())
        device = defaultOutput(*enumerator);
    else if (FAILED(enumerator->GetDevice(id.c_str(), device.put())))
        device.reset();
    // An id may name a microphone too; only output endpoints are endpoints here.
    if (!device || !isOutput(*device))
        return {};
    return std::make_unique<WasapiEndpoint>(std::move(device));
}

bool WasapiAudioPlatform::toggleDefaultOutputMute()
{
    const ComApartment apartment;
    const ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    const ComPtr<IMMDevice> device = enumerator ? defaultOutput(*enumerator) : ComPtr<IMMDevice>();
    ComPtr<IAudioEndpointVolume> volume;
    if (!device || FAILED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER,
                                           nullptr, volume.putVoid())))
        return false;
    // Without the current state there is nothing sensible to flip to: leave it alone.
    BOOL muted = FALSE;
    if (FAILED(volume->GetMute(&muted)))
        return false;
    return SUCCEEDED(volume->SetMute(!muted, nullptr));
}

void WasapiAudioPlatform::attachThread()
{
    ComApartment::enter();
}

void WasapiAudioPlatform::detachThread()
{
    ComApartment::leave();
}

void WasapiAudioPlatform::beginWatching()
{
    watch = std::make_unique<WasapiDeviceWatch>([this] { reportDevicesChanged(); });
}

void WasapiAudioPlatform::endWatching()
{
    watch.reset();
}
