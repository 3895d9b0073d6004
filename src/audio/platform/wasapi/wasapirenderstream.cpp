#include "audio/platform/wasapi/wasapirenderstream.h"

#include "audio/platform/wasapi/waveformat.h"

namespace {

constexpr DWORD renderFlags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK |
                              AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                              AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;

HRESULT activate(IMMDevice &device, ComPtr<IAudioClient> &client)
{
    return device.Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
}

} // namespace

std::unique_ptr<WasapiRenderStream> WasapiRenderStream::open(IMMDevice &device, int sampleRate,
                                                             int channels, int bufferMs,
                                                             HRESULT &error)
{
    std::unique_ptr<WasapiRenderStream> stream(new WasapiRenderStream);
    TaskMemFormat format = pcm16Format(sampleRate, channels);
    if (!format || bufferMs <= 0) {
        error = E_INVALIDARG;
        return {};
    }
    const REFERENCE_TIME duration = REFERENCE_TIME(bufferMs) * 10000;
    error = activate(device, stream->client);
    if (FAILED(error))
        return {};
    error = stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, renderFlags, duration, 0,
                                       format.get(), nullptr);
    if (FAILED(error)) {
        // Refused: play in the mix format instead, on a fresh client, since a client whose
        // Initialize failed may refuse a second one.
        error = activate(device, stream->client);
        if (FAILED(error))
            return {};
        WAVEFORMATEX *lent = nullptr;
        error = stream->client->GetMixFormat(&lent);
        format.reset(lent);
        if (FAILED(error) || !format)
            return {};
        error = stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, renderFlags, duration, 0,
                                           format.get(), nullptr);
        if (FAILED(error))
            return {};
    }
    stream->streamFormat = streamFormatOf(*format);

    stream->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!stream->event) {
        error = HRESULT_FROM_WIN32(GetLastError());
        return {};
    }
    error = stream->client->SetEventHandle(stream->event);
    if (FAILED(error))
        return {};
    UINT32 frames = 0;
    error = stream->client->GetBufferSize(&frames);
    if (FAILED(error))
        return {};
    stream->frameCapacity = frames;
    // The engine's default period, in 100 ns units; the event comes once per period.
    REFERENCE_TIME defaultPeriod = 0;
    error = stream->client->GetDevicePeriod(&defaultPeriod, nullptr);
    if (FAILED(error))
        return {};
    stream->period = std::uint32_t(std::int64_t(defaultPeriod) *
                                   std::int64_t(stream->streamFormat.sampleRate) / 10000000);
    error = stream->client->GetService(__uuidof(IAudioRenderClient), stream->render.putVoid());
    if (FAILED(error))
        return {};
    return stream;
}

WasapiRenderStream::~WasapiRenderStream()
{
    render.reset();
    client.reset();
    if (event)
        CloseHandle(event);
}

bool WasapiRenderStream::start()
{
    return SUCCEEDED(client->Start());
}

void WasapiRenderStream::stop()
{
    client->Stop();
}

void WasapiRenderStream::waitForEvent(int timeoutMs)
{
    WaitForSingleObject(event, timeoutMs < 0 ? 0 : DWORD(timeoutMs));
}

void WasapiRenderStream::wake()
{
    SetEvent(event);
}

bool WasapiRenderStream::currentPadding(std::uint32_t &frames)
{
    UINT32 padding = 0;
    const bool succeeded = SUCCEEDED(client->GetCurrentPadding(&padding));
    frames = succeeded ? padding : 0;
    return succeeded;
}

unsigned char *WasapiRenderStream::getBuffer(std::uint32_t frames)
{
    BYTE *data = nullptr;
    if (FAILED(render->GetBuffer(frames, &data)))
        return nullptr;
    return data;
}

void WasapiRenderStream::releaseBuffer(std::uint32_t frames)
{
    render->ReleaseBuffer(frames, 0);
}
