// Runs each operation of the Windows sound backend once and prints one line per step:
// "<step>: OK|FAILED|SKIPPED (details)". Exits with 1 when any step failed.
#include "audio/platform/audioplatform.h"
#include "audio/platform/wasapi/comptr.h"
#include "audio/platform/wasapi/wasapidevicewatch.h"
#include "audio/platform/wasapi/wasapiendpoint.h"
#include "audio/platform/wasapi/waveformat.h"

#include <audioclient.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mmdeviceapi.h>
#include <string>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;

int failures = 0;

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string converted(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), converted.data(), size, nullptr,
                        nullptr);
    return converted;
}

std::string hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

std::string describe(const StreamFormat &format)
{
    const char *encoding = format.encoding == StreamFormat::Encoding::Float ? "float"
                           : format.encoding == StreamFormat::Encoding::Pcm ? "pcm"
                                                                            : "other";
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%X", static_cast<unsigned>(format.channelMask));
    return std::string(encoding) + " " + std::to_string(format.sampleRate) + " Hz " +
           std::to_string(format.channels) + " ch " + std::to_string(format.bitsPerSample) +
           " bit, channel mask " + mask;
}

void report(const char *step, const char *outcome, const std::string &details)
{
    std::printf("%s: %s (%s)\n", step, outcome, details.c_str());
    std::fflush(stdout);
    if (std::strcmp(outcome, "FAILED") == 0)
        ++failures;
}

bool sameFormat(const StreamFormat &format, StreamFormat::Encoding encoding, int sampleRate,
                int channels, int bitsPerSample)
{
    return format.encoding == encoding && format.sampleRate == sampleRate &&
           format.channels == channels && format.bitsPerSample == bitsPerSample;
}

WAVEFORMATEXTENSIBLE extensible(const GUID &subtype, WORD bits, WORD validBits)
{
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = 2;
    format.Format.nSamplesPerSec = 44100;
    format.Format.wBitsPerSample = bits;
    format.Format.nBlockAlign = WORD(2 * bits / 8);
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = validBits;
    format.SubFormat = subtype;
    return format;
}

// The format mapping, on the formats an endpoint may hand out, whatever this system's are.
void probeFormats()
{
    constexpr GUID pcm = {0x1, 0x0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    constexpr GUID floating = {0x3, 0x0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    constexpr GUID unknown = {0x55, 0x0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    using Encoding = StreamFormat::Encoding;

    const WAVEFORMATEX plainFloat{WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 384000, 8, 32, 0};
    const WAVEFORMATEX plainPcm{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    const WAVEFORMATEX mp3{0x55, 2, 44100, 16000, 1, 0, 0};
    const WAVEFORMATEXTENSIBLE mixFloat = extensible(floating, 32, 32);
    const WAVEFORMATEXTENSIBLE packed24 = extensible(pcm, 32, 24);
    const WAVEFORMATEXTENSIBLE other = extensible(unknown, 16, 16);
    WAVEFORMATEXTENSIBLE truncated = extensible(floating, 32, 32);
    truncated.Format.cbSize = 0;
    const TaskMemFormat requested = pcm16Format(48000, 2);

    const bool mapped =
        sameFormat(streamFormatOf(plainFloat), Encoding::Float, 48000, 2, 32) &&
        sameFormat(streamFormatOf(plainPcm), Encoding::Pcm, 22050, 1, 16) &&
        streamFormatOf(mp3).encoding == Encoding::Other &&
        sameFormat(streamFormatOf(mixFloat.Format), Encoding::Float, 44100, 2, 32) &&
        sameFormat(streamFormatOf(packed24.Format), Encoding::Pcm, 44100, 2, 32) &&
        streamFormatOf(other.Format).encoding == Encoding::Other &&
        streamFormatOf(truncated.Format).encoding == Encoding::Other && requested &&
        requested->wFormatTag == WAVE_FORMAT_PCM && requested->nBlockAlign == 4 &&
        requested->nAvgBytesPerSec == 192000 && requested->cbSize == 0 &&
        sameFormat(streamFormatOf(*requested), Encoding::Pcm, 48000, 2, 16) && !pcm16Format(0, 2) &&
        !pcm16Format(48000, 0);
    report("formats", mapped ? "OK" : "FAILED", "tags 1, 3, extensible and others");
}

// The speaker layout: an extensible format names its speakers; any other format, or an
// extensible one cut short, leaves them to the usual layout for its channel count (mask 0).
void probeChannelMask()
{
    constexpr GUID floating = {0x3, 0x0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    constexpr DWORD frontCentreBack =
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_BACK_CENTER;
    WAVEFORMATEXTENSIBLE fourChannels = extensible(floating, 32, 32);
    fourChannels.Format.nChannels = 4;
    fourChannels.Format.nBlockAlign = 16;
    fourChannels.dwChannelMask = frontCentreBack;
    WAVEFORMATEXTENSIBLE truncated = fourChannels;
    truncated.Format.cbSize = 0;
    const WAVEFORMATEX plain{WAVE_FORMAT_IEEE_FLOAT, 4, 48000, 768000, 16, 32, 0};

    const StreamFormat named = streamFormatOf(fourChannels.Format);
    const bool mapped = named.channelMask == 0x107 && named.channels == 4 &&
                        streamFormatOf(truncated.Format).channelMask == 0 &&
                        streamFormatOf(plain).channelMask == 0;
    report("channel mask", mapped ? "OK" : "FAILED",
           "4 ch front left, right, centre, back centre: " + describe(named));
}

// The default endpoint's own mix format, speaker layout included.
void probeMixFormat()
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    WAVEFORMATEX *lent = nullptr;
    const HRESULT result = [&] {
        HRESULT step = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                        __uuidof(IMMDeviceEnumerator), enumerator.putVoid());
        if (SUCCEEDED(step))
            step = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
        if (SUCCEEDED(step))
            step = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
        if (SUCCEEDED(step))
            step = client->GetMixFormat(&lent);
        return step;
    }();
    const TaskMemFormat mixFormat(lent);
    if (FAILED(result) || !mixFormat) {
        report("mix format", "FAILED", hex(result));
        return;
    }
    report("mix format", "OK", describe(streamFormatOf(*mixFormat)));
}

HRESULT lastError(AudioEndpoint &endpoint)
{
    auto *wasapi = dynamic_cast<WasapiEndpoint *>(&endpoint);
    return wasapi ? wasapi->lastError() : E_FAIL;
}

void probeLoopback(AudioEndpoint &endpoint)
{
    const auto stream = endpoint.openLoopback();
    if (!stream) {
        const HRESULT error = lastError(endpoint);
        // Wine accepts a loopback client but has no capture service for a render endpoint.
        if (error == AUDCLNT_E_WRONG_ENDPOINT_TYPE)
            report("loopback", "SKIPPED", "no loopback capture on this system: " + hex(error));
        else
            report("loopback", "FAILED", "open: " + hex(error));
        return;
    }
    if (!stream->start()) {
        report("loopback", "FAILED", "start");
        return;
    }
    std::uint64_t frames = 0;
    int packets = 0;
    bool failed = false;
    const auto end = Clock::now() + std::chrono::milliseconds(200);
    while (!failed && Clock::now() < end) {
        // Wakes at the packet event, or polls where the system signals none.
        stream->waitForPacket(1, 10);
        std::uint32_t next = 0;
        failed = !stream->nextPacketSize(next);
        while (!failed && next > 0) {
            CapturePacket packet;
            failed = !stream->getBuffer(packet);
            if (failed)
                break;
            frames += packet.frames;
            ++packets;
            stream->releaseBuffer(packet.frames);
            failed = !stream->nextPacketSize(next);
        }
    }
    stream->stop();
    // A loopback stream may deliver nothing while nothing plays, so no frames is no fault.
    report("loopback", failed ? "FAILED" : "OK",
           describe(stream->format()) + ", " + std::to_string(packets) + " packets, " +
               std::to_string(frames) + " frames");
}

// Writes a 440 Hz sine into the buffer in whatever format the stream runs.
void writeTone(unsigned char *buffer, std::uint32_t frames, const StreamFormat &format,
               std::uint64_t &phase)
{
    for (std::uint32_t frame = 0; frame < frames; ++frame, ++phase) {
        const double value = 0.3 * std::sin(2 * 3.14159265358979 * 440.0 * double(phase) /
                                            double(format.sampleRate));
        for (int channel = 0; channel < format.channels; ++channel) {
            unsigned char *sample = buffer + std::size_t(frame) * std::size_t(format.blockAlign()) +
                                    std::size_t(channel) * std::size_t(format.bitsPerSample / 8);
            if (format.encoding == StreamFormat::Encoding::Float && format.bitsPerSample == 32) {
                const float converted = float(value);
                std::memcpy(sample, &converted, sizeof converted);
            } else if (format.encoding == StreamFormat::Encoding::Pcm &&
                       format.bitsPerSample == 16) {
                const auto converted = std::int16_t(value * 32767);
                std::memcpy(sample, &converted, sizeof converted);
            } else {
                std::memset(sample, 0, std::size_t(format.bitsPerSample / 8));
            }
        }
    }
}

void probeRender(AudioEndpoint &endpoint)
{
    const auto stream = endpoint.openRender(48000, 2, 100);
    if (!stream) {
        report("render", "FAILED", "open: " + hex(lastError(endpoint)));
        return;
    }
    if (!stream->start()) {
        report("render", "FAILED", "start");
        return;
    }
    std::uint64_t written = 0;
    int wakes = 0;
    bool failed = false;
    const auto begin = Clock::now();
    while (!failed && Clock::now() < begin + std::chrono::milliseconds(200)) {
        stream->waitForEvent(100);
        ++wakes;
        std::uint32_t padding = 0;
        failed = !stream->currentPadding(padding);
        if (failed || padding >= stream->bufferFrames())
            continue;
        const std::uint32_t free = stream->bufferFrames() - padding;
        unsigned char *buffer = stream->getBuffer(free);
        failed = !buffer;
        if (failed)
            break;
        writeTone(buffer, free, stream->format(), written);
        stream->releaseBuffer(free);
    }
    stream->stop();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    // Event-driven: it must have asked for data more than once, and not run far ahead.
    const bool paced =
        written > 0 && wakes > 1 &&
        written <= 48000 * std::uint64_t(elapsed) / 1000 + 2 * stream->bufferFrames();
    report("render", !failed && paced ? "OK" : "FAILED",
           describe(stream->format()) + ", buffer " + std::to_string(stream->bufferFrames()) +
               " frames, " + std::to_string(written) + " frames in " + std::to_string(elapsed) +
               " ms, " + std::to_string(wakes) + " wakes");
}

} // namespace

int main()
{
    AudioPlatform::install(createSystemAudioPlatform());
    AudioPlatform &platform = AudioPlatform::instance();
    platform.attachThread();

    probeFormats();
    probeChannelMask();

    const std::vector<DeviceInfo> endpoints = platform.outputEndpoints();
    for (const DeviceInfo &endpoint : endpoints)
        std::printf("endpoint: %s [%s]\n", utf8(endpoint.name).c_str(), utf8(endpoint.id).c_str());
    report("endpoints", endpoints.empty() ? "FAILED" : "OK",
           std::to_string(endpoints.size()) + " active output endpoints");

    {
        // Whether notifications come is the system's business (Wine sends none); the
        // registration and its end must work.
        const WasapiDeviceWatch watch([] {});
        report("device watch", watch.isListening() ? "OK" : "FAILED", "endpoint notifications");
    }

    report("unknown id", platform.openEndpoint(L"{no-such-endpoint}") ? "FAILED" : "OK", "refused");

    const auto endpoint = platform.openEndpoint(L"");
    report("open default", endpoint ? "OK" : "FAILED", "console role");
    if (endpoint) {
        probeMixFormat();
        probeLoopback(*endpoint);
        probeRender(*endpoint);
    } else {
        report("mix format", "SKIPPED", "no default endpoint");
        report("loopback", "SKIPPED", "no default endpoint");
        report("render", "SKIPPED", "no default endpoint");
    }
    for (const char *step : {"mute toggle 1", "mute toggle 2"})
        report(step, platform.toggleDefaultOutputMute() ? "OK" : "FAILED", "default endpoint");

    platform.detachThread();
    return failures == 0 ? 0 : 1;
}
