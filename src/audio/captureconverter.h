#pragma once

#include "audio/platform/audioplatform.h"
#include "audio/resampler.h"

#include <cstdint>
#include <optional>
#include <vector>

// Turns the packets of a loopback stream, in whatever format the endpoint mixes, into the
// audio the sending path works with: 48000 Hz, 2 interleaved float channels. Integer PCM is
// scaled by its container size, channels are folded down (or mono spread) to stereo, other
// rates are resampled. Buffers are kept between packets and grow only when a packet is larger
// than any before, so the capture thread does not allocate once it has settled.
class CaptureConverter
{
public:
    static constexpr int outputRate = 48000;
    static constexpr int outputChannels = 2;

    // Prepares for packets of this format and forgets earlier history; false when the format
    // cannot be read, and then convert() delivers nothing.
    bool configure(const StreamFormat &format);

    // Converts one packet of the given frames (data holds frames x block alignment bytes and
    // nothing beyond them is read; a silent packet's data is not read at all). Returns the
    // converted samples, valid until the next call, and sets outputFrames; 0 frames when the
    // format is unreadable or the resampler needs more input first.
    const float *convert(const unsigned char *data, std::uint32_t frames, bool silent,
                         std::uint64_t &outputFrames);

private:
    void mixToStereo(const unsigned char *data, std::uint32_t frames);

    StreamFormat format;
    float (*readSample)(const unsigned char *) = nullptr; // null when the format is unreadable
    bool passThrough = false; // the packet already is 48000 Hz stereo float
    std::vector<float> left;  // gain of each source channel into the left output
    std::vector<float> right; // and into the right one
    std::vector<float> stereo;    // the packet as stereo float at its own rate
    std::vector<float> resampled; // the same at 48000 Hz
    std::optional<Resampler> resampler; // only when the rate differs
};
