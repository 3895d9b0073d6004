#include "pulsesimple.h"

#include <cstdint>

pa_simple *openFloatStereo(pa_stream_direction_t direction, const std::string &device,
                           const char *name, std::size_t chunkFrames, std::size_t bufferFrames)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    const auto bytes = [](std::size_t frames) { return std::uint32_t(frames * 2 * sizeof(float)); };
    const bool playback = direction == PA_STREAM_PLAYBACK;
    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = playback ? bytes(bufferFrames) : std::uint32_t(-1);
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = playback ? bytes(chunkFrames) : std::uint32_t(-1);
    attributes.fragsize = playback ? std::uint32_t(-1) : bytes(chunkFrames);
    return pa_simple_new(nullptr, "KestruneServer benchmark", direction, device.c_str(), name,
                         &spec, nullptr, &attributes, nullptr);
}
