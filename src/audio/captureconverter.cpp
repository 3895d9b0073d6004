#include "audio/captureconverter.h"

#include <algorithm>
#include <cstring>

namespace {

// Speaker bits of a channel mask.
constexpr std::uint32_t frontLeft = 0x1;
constexpr std::uint32_t frontRight = 0x2;
constexpr std::uint32_t frontCentre = 0x4;
constexpr std::uint32_t backLeft = 0x10;
constexpr std::uint32_t backRight = 0x20;
constexpr std::uint32_t frontLeftOfCentre = 0x40;
constexpr std::uint32_t frontRightOfCentre = 0x80;
constexpr std::uint32_t backCentre = 0x100;
constexpr std::uint32_t sideLeft = 0x200;
constexpr std::uint32_t sideRight = 0x400;
constexpr std::uint32_t topCentre = 0x800;
constexpr std::uint32_t topFrontLeft = 0x1000;
constexpr std::uint32_t topFrontCentre = 0x2000;
constexpr std::uint32_t topFrontRight = 0x4000;
constexpr std::uint32_t topBackLeft = 0x8000;
constexpr std::uint32_t topBackCentre = 0x10000;
constexpr std::uint32_t topBackRight = 0x20000;

constexpr std::uint32_t leftSpeakers =
    frontLeftOfCentre | backLeft | sideLeft | topFrontLeft | topBackLeft;
constexpr std::uint32_t rightSpeakers =
    frontRightOfCentre | backRight | sideRight | topFrontRight | topBackRight;
constexpr std::uint32_t centreSpeakers =
    frontCentre | backCentre | topCentre | topFrontCentre | topBackCentre;

// Every speaker but the front pair reaches its side 3 dB down, centres reach both sides,
// the LFE channel is left out: the usual surround fold-down, without normalising, so stereo
// content on a surround endpoint keeps its level (the sending path clips what overshoots).
constexpr float foldGain = 0.70710678f;

// The layout an endpoint of this many channels has when it does not name its speakers.
std::uint32_t usualMask(int channels)
{
    switch (channels) {
    case 3:
        return frontLeft | frontRight | frontCentre;
    case 4:
        return frontLeft | frontRight | backLeft | backRight;
    case 5:
        return frontLeft | frontRight | frontCentre | backLeft | backRight;
    case 6:
        return 0x3F; // 5.1
    case 7:
        return 0x13F; // 6.1
    case 8:
        return 0x63F; // 7.1
    default:
        return 0;
    }
}

void foldDownGains(const StreamFormat &format, std::vector<float> &left,
                   std::vector<float> &right)
{
    left.assign(std::size_t(format.channels), 0.0f);
    right.assign(std::size_t(format.channels), 0.0f);
    std::uint32_t mask = format.channelMask ? format.channelMask : usualMask(format.channels);
    // Channels past the named speakers stay out of the mix.
    for (int channel = 0; channel < format.channels && mask != 0; ++channel) {
        const std::uint32_t speaker = mask & (~mask + 1);
        mask &= mask - 1;
        if (speaker == frontLeft)
            left[channel] = 1.0f;
        else if (speaker == frontRight)
            right[channel] = 1.0f;
        else if (speaker & leftSpeakers)
            left[channel] = foldGain;
        else if (speaker & rightSpeakers)
            right[channel] = foldGain;
        else if (speaker & centreSpeakers)
            left[channel] = right[channel] = foldGain;
    }
}

// Integer samples are little-endian and scaled by their container size.
float readInt16(const unsigned char *p)
{
    return float(std::int16_t(std::uint16_t(p[0] | p[1] << 8))) / 32768.0f;
}

float readInt24(const unsigned char *p)
{
    std::int32_t value = p[0] | p[1] << 8 | p[2] << 16;
    if (value & 0x800000)
        value -= 0x1000000;
    return float(value) / 8388608.0f;
}

float readInt32(const unsigned char *p)
{
    const std::uint32_t bits =
        std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
        std::uint32_t(p[3]) << 24;
    return float(double(std::int32_t(bits)) / 2147483648.0);
}

float readFloat32(const unsigned char *p)
{
    float value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

float readFloat64(const unsigned char *p)
{
    double value;
    std::memcpy(&value, p, sizeof value);
    return float(value);
}

using SampleReader = float (*)(const unsigned char *);

SampleReader readerFor(const StreamFormat &format)
{
    if (format.encoding == StreamFormat::Encoding::Float) {
        if (format.bitsPerSample == 32)
            return readFloat32;
        if (format.bitsPerSample == 64)
            return readFloat64;
    } else if (format.encoding == StreamFormat::Encoding::Pcm) {
        switch (format.bitsPerSample) {
        case 16:
            return readInt16;
        case 24:
            return readInt24;
        case 32:
            return readInt32;
        }
    }
    return nullptr;
}

} // namespace

bool CaptureConverter::configure(const StreamFormat &newFormat)
{
    format = newFormat;
    resampler.reset();
    readSample = format.channels > 0 && format.sampleRate > 0 ? readerFor(format) : nullptr;
    if (!readSample)
        return false;
    if (format.channels > 2)
        foldDownGains(format, left, right);
    passThrough = format.encoding == StreamFormat::Encoding::Float && format.bitsPerSample == 32 &&
                  format.channels == outputChannels && format.sampleRate == outputRate;
    if (format.sampleRate != outputRate)
        resampler.emplace(format.sampleRate, outputRate, outputChannels);
    return true;
}

const float *CaptureConverter::convert(const unsigned char *data, std::uint32_t frames,
                                       bool silent, std::uint64_t &outputFrames)
{
    outputFrames = 0;
    if (!readSample || frames == 0 || (!silent && !data))
        return nullptr;
    if (passThrough && !silent && reinterpret_cast<std::uintptr_t>(data) % alignof(float) == 0) {
        outputFrames = frames;
        return reinterpret_cast<const float *>(data);
    }

    const std::size_t samples = std::size_t(frames) * outputChannels;
    if (stereo.size() < samples)
        stereo.resize(samples);
    if (silent)
        std::fill_n(stereo.begin(), samples, 0.0f);
    else
        mixToStereo(data, frames);
    if (!resampler) {
        outputFrames = frames;
        return stereo.data();
    }

    const std::size_t room = resampler->maxOutputFrames(frames) * outputChannels;
    if (resampled.size() < room)
        resampled.resize(room);
    outputFrames = resampler->process(stereo.data(), frames, resampled.data());
    return resampled.data();
}

void CaptureConverter::mixToStereo(const unsigned char *data, std::uint32_t frames)
{
    const int channels = format.channels;
    const std::size_t width = std::size_t(format.bitsPerSample / 8);
    const std::size_t stride = width * channels;
    float *out = stereo.data();
    for (std::uint32_t i = 0; i < frames; ++i, data += stride, out += 2) {
        if (channels == 1) {
            out[0] = out[1] = readSample(data);
        } else if (channels == 2) {
            out[0] = readSample(data);
            out[1] = readSample(data + width);
        } else {
            float sumLeft = 0.0f;
            float sumRight = 0.0f;
            for (int channel = 0; channel < channels; ++channel) {
                if (left[channel] == 0.0f && right[channel] == 0.0f)
                    continue;
                const float value = readSample(data + channel * width);
                sumLeft += left[channel] * value;
                sumRight += right[channel] * value;
            }
            out[0] = sumLeft;
            out[1] = sumRight;
        }
    }
}
