#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/wasapi/comptr.h"

#include <audioclient.h>
#include <memory>
#include <mmdeviceapi.h>

// A shared-mode loopback stream of a render endpoint, in the endpoint's mix format, whose
// event (where the system signals one for loopback clients) wakes a waiting reader.
class WasapiLoopbackStream final : public LoopbackStream
{
public:
    // Null on failure, with the failing call's result in error.
    static std::unique_ptr<WasapiLoopbackStream> open(IMMDevice &device, HRESULT &error);
    ~WasapiLoopbackStream() override;
    WasapiLoopbackStream(const WasapiLoopbackStream &) = delete;
    WasapiLoopbackStream &operator=(const WasapiLoopbackStream &) = delete;

    StreamFormat format() const override { return streamFormat; }
    bool start() override;
    void stop() override;
    void waitForPacket(std::uint32_t frames, int timeoutMs) override;
    bool nextPacketSize(std::uint32_t &frames) override;
    bool getBuffer(CapturePacket &packet) override;
    void releaseBuffer(std::uint32_t frames) override;

private:
    WasapiLoopbackStream() = default;

    ComPtr<IAudioClient> client;
    ComPtr<IAudioCaptureClient> capture;
    HANDLE event = nullptr; // null when the client captures without an event
    StreamFormat streamFormat;
};
