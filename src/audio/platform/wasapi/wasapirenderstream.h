#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/platform/wasapi/comptr.h"

#include <audioclient.h>
#include <memory>
#include <mmdeviceapi.h>

// An event-driven shared-mode render stream: 16-bit PCM as asked for, or the endpoint's
// mix format when the audio engine refuses that.
class WasapiRenderStream final : public RenderStream
{
public:
    // Null on failure, with the failing call's result in error.
    static std::unique_ptr<WasapiRenderStream> open(IMMDevice &device, int sampleRate, int channels,
                                                    int bufferMs, HRESULT &error);
    ~WasapiRenderStream() override;

    StreamFormat format() const override { return streamFormat; }
    std::uint32_t bufferFrames() const override { return frameCapacity; }
    std::uint32_t periodFrames() const override { return period; }
    bool start() override;
    void stop() override;
    void waitForEvent(int timeoutMs) override;
    void wake() override;
    bool currentPadding(std::uint32_t &frames) override;
    unsigned char *getBuffer(std::uint32_t frames) override;
    void releaseBuffer(std::uint32_t frames) override;

private:
    WasapiRenderStream() = default;

    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> render;
    HANDLE event = nullptr; // auto-reset; the audio engine sets it when it wants data
    StreamFormat streamFormat;
    std::uint32_t frameCapacity = 0;
    std::uint32_t period = 0;
};
