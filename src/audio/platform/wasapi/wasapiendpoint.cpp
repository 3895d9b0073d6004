#include "audio/platform/wasapi/wasapiendpoint.h"

#include "audio/platform/wasapi/wasapiloopbackstream.h"
#include "audio/platform/wasapi/wasapirenderstream.h"

WasapiEndpoint::WasapiEndpoint(ComPtr<IMMDevice> device) : device(std::move(device)) {}

std::unique_ptr<LoopbackStream> WasapiEndpoint::openLoopback()
{
    return WasapiLoopbackStream::open(*device, error);
}

std::unique_ptr<RenderStream> WasapiEndpoint::openRender(int sampleRate, int channels, int bufferMs)
{
    return WasapiRenderStream::open(*device, sampleRate, channels, bufferMs, error);
}
