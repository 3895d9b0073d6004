#include "audio/platform/wasapi/wasapiloopbackstream.h"

#include "audio/platform/wasapi/waveformat.h"

#include <utility>

namespace {

constexpr DWORD eventFlags = AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK;

HRESULT activate(IMMDevice &device, ComPtr<IAudioClient> &client)
{
    return device.Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
}

HRESULT initialize(IAudioClient &client, DWORD flags, const WAVEFORMATEX &format)
{
    // Buffer duration and period 0: the audio engine's own defaults.
    return client.Initialize(AUDCLNT_SHAREMODE_SHARED, flags, 0, 0, &format, nullptr);
}

// The performance counter now, in the 100-nanosecond units of a packet's position.
std::int64_t counterNow100ns()
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    if (!QueryPerformanceCounter(&now) || !QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0)
        return -1;
    const std::int64_t seconds = now.QuadPart / frequency.QuadPart;
    const std::int64_t rest = now.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

} // namespace

std::unique_ptr<WasapiLoopbackStream> WasapiLoopbackStream::open(IMMDevice &device, HRESULT &error)
{
    std::unique_ptr<WasapiLoopbackStream> stream(new WasapiLoopbackStream);
    error = activate(device, stream->client);
    if (FAILED(error))
        return {};
    WAVEFORMATEX *lent = nullptr;
    error = stream->client->GetMixFormat(&lent);
    const TaskMemFormat mixFormat(lent);
    if (FAILED(error) || !mixFormat)
        return {};

    // The event says when a packet is ready. Where the system refuses it for a loopback
    // client, capture without one, on a fresh client (one whose Initialize failed may refuse
    // a second): the reader's wait then only times out, which is polling.
    stream->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const bool withEvent = stream->event &&
                           SUCCEEDED(initialize(*stream->client, eventFlags, *mixFormat)) &&
                           SUCCEEDED(stream->client->SetEventHandle(stream->event));
    if (!withEvent) {
        if (stream->event)
            CloseHandle(std::exchange(stream->event, nullptr));
        error = activate(device, stream->client);
        if (SUCCEEDED(error))
            error = initialize(*stream->client, AUDCLNT_STREAMFLAGS_LOOPBACK, *mixFormat);
        if (FAILED(error))
            return {};
    }
    error = stream->client->GetService(__uuidof(IAudioCaptureClient), stream->capture.putVoid());
    if (FAILED(error))
        return {};
    stream->streamFormat = streamFormatOf(*mixFormat);
    return stream;
}

WasapiLoopbackStream::~WasapiLoopbackStream()
{
    capture.reset();
    client.reset();
    if (event)
        CloseHandle(event);
}

bool WasapiLoopbackStream::start()
{
    return SUCCEEDED(client->Start());
}

void WasapiLoopbackStream::stop()
{
    client->Stop();
}

// The event cannot count frames: it is signalled for every packet.
void WasapiLoopbackStream::waitForPacket(std::uint32_t, int timeoutMs)
{
    const DWORD timeout = timeoutMs < 0 ? 0 : DWORD(timeoutMs);
    if (event)
        WaitForSingleObject(event, timeout);
    else
        Sleep(timeout);
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
    UINT64 recordedAt = 0;
    packet = CapturePacket();
    // AUDCLNT_S_BUFFER_EMPTY succeeds with no frames.
    if (FAILED(capture->GetBuffer(&data, &frames, &flags, nullptr, &recordedAt)))
        return false;
    packet.data = data;
    packet.frames = frames;
    packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
    const std::int64_t now = counterNow100ns();
    if (frames > 0 && now >= 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) &&
        std::int64_t(recordedAt) <= now)
        packet.delayUs = (now - std::int64_t(recordedAt)) / 10;
    return true;
}

void WasapiLoopbackStream::releaseBuffer(std::uint32_t frames)
{
    capture->ReleaseBuffer(frames);
}
