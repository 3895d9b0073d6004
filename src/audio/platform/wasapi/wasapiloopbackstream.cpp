#include "audio/platform/wasapi/wasapiloopbackstream.h"

#include "audio/platform/wasapi/waveformat.h"

std::unique_ptr<WasapiLoopbackStream> WasapiLoopbackStream::open(IMMDevice &device, HRESULT &error)
{
    std::unique_ptr<WasapiLoopbackStream> stream(new WasapiLoopbackStream);
    error = device.Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, stream->client.putVoid());
    if (FAILED(error))
        return {};
    WAVEFORMATEX *lent = nullptr;
    error = stream->client->GetMixFormat(&lent);
    const TaskMemFormat mixFormat(lent);
    if (FAILED(error) || !mixFormat)
        return {};
    // Buffer duration and period 0: the audio engine's own defaults.
    error = stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, 0, 0,
                                       mixFormat.get(), nullptr);
    if (FAILED(error))
        return {};
    error = stream->client->GetService(__uuidof(IAudioCaptureClient), stream->capture.putVoid());
    if (FAILED(error))
        return {};
    stream->streamFormat = streamFormatOf(*mixFormat);
    return stream;
}

bool WasapiLoopbackStream::start()
{
    return SUCCEEDED(client->Start());
}

void WasapiLoopbackStream::stop()
{
    client->Stop();
}

bool WasapiLoopbackStream::nextPacketSize(std::uint32_t &frames)
{
    UINT32 next = 0;
    const bool succeeded = SUCCEEDED(capture->GetNextPacketSize(&next));
    frames = succeeded ? next : 0;
    return succeeded;
}

bool WasapiLoopbackStream::getBuffer(CapturePacket &packet)
{
    BYTE *data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    packet = CapturePacket();
    // AUDCLNT_S_BUFFER_EMPTY succeeds with no frames.
    if (FAILED(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr)))
        return false;
    packet.data = data;
    packet.frames = frames;
    packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
    return true;
}

void WasapiLoopbackStream::releaseBuffer(std::uint32_t frames)
{
    capture->ReleaseBuffer(frames);
}
