#include "audio/renderconverter.h"

#include <cstring>

namespace {

// The pushed sample that feeds output channel `channel`, or 0 for a channel it does not reach.
int sourceSample(const std::int16_t *frame, int channels, int outputChannels, int channel)
{
    if (outputChannels == 1 && channels > 1) {
        int sum = 0;
        for (int i = 0; i < channels; ++i)
            sum += frame[i];
        return sum / channels;
    }
    if (channel < channels)
        return frame[channel];
    if (channels == 1 && channel == 1)
        return frame[0];
    return 0;
}

void writeLittleEndian(unsigned char *out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

bool isWritableRenderFormat(const StreamFormat &format)
{
    if (format.channels < 1)
        return false;
    if (format.encoding == StreamFormat::Encoding::Float)
        return format.bitsPerSample == 32;
    if (format.encoding == StreamFormat::Encoding::Pcm)
        return format.bitsPerSample == 16 || format.bitsPerSample == 24 ||
               format.bitsPerSample == 32;
    return false;
}

void writeRenderFrames(const std::int16_t *samples, int channels, std::uint32_t frames,
                       const StreamFormat &format, unsigned char *buffer)
{
    const int outputChannels = format.channels;
    const int width = format.bitsPerSample / 8;
    const bool isFloat = format.encoding == StreamFormat::Encoding::Float;
    for (std::uint32_t i = 0; i < frames; ++i, samples += channels) {
        for (int channel = 0; channel < outputChannels; ++channel, buffer += width) {
            const int sample = sourceSample(samples, channels, outputChannels, channel);
            if (isFloat) {
                const float value = float(sample) / 32768.0f;
                std::memcpy(buffer, &value, sizeof value);
            } else {
                // Widen by shifting into the high bits, as the sample's scale demands.
                const std::uint32_t bits = std::uint32_t(sample) << (8 * (width - 2));
                writeLittleEndian(buffer, bits, width);
            }
        }
    }
}
