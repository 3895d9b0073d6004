#pragma once

#include "audio/platform/wasapi/comapartment.h"
#include "audio/platform/wasapi/comptr.h"

#include <functional>
#include <mmdeviceapi.h>

// Tells of endpoints that come, go or change state and of a new default output, through
// Core Audio's endpoint notifications. Core Audio calls from threads of its own; changed
// runs there and must return quickly. Made and destroyed on the same thread.
class WasapiDeviceWatch
{
public:
    explicit WasapiDeviceWatch(std::function<void()> changed);
    ~WasapiDeviceWatch();
    WasapiDeviceWatch(const WasapiDeviceWatch &) = delete;
    WasapiDeviceWatch &operator=(const WasapiDeviceWatch &) = delete;

    // Whether Core Audio took the registration.
    bool isListening() const { return listening; }

private:
    class Client;

    const ComApartment apartment; // for as long as the enumerator is used
    ComPtr<IMMDeviceEnumerator> enumerator;
    Client *client = nullptr; // one reference of its own
    bool listening = false;
};
