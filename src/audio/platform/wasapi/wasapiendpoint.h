#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/wasapi/comptr.h"

#include <mmdeviceapi.h>

// One render endpoint, opened.
class WasapiEndpoint final : public AudioEndpoint
{
public:
    explicit WasapiEndpoint(ComPtr<IMMDevice> device);

    std::unique_ptr<LoopbackStream> openLoopback() override;
    std::unique_ptr<RenderStream> openRender(int sampleRate, int channels, int bufferMs) override;

    // The result of the call that made the last open fail (S_OK after a success), for
    // diagnostics that tell an unavailable feature from a fault.
    HRESULT lastError() const { return error; }

private:
    ComPtr<IMMDevice> device;
    HRESULT error = S_OK;
};
