#pragma once

#include <cstddef>
#include <cstdint>

// Turns the packets of one stream, in order, into interleaved 16-bit audio, and stands in
// for the packets that never came.
class PacketDecoder
{
public:
    virtual ~PacketDecoder() = default;

    // Frames per channel the packet holds, read from the packet itself; 0 when it cannot be
    // read. Touches no decoder state, so it may be called on any thread.
    virtual int packetFrames(const unsigned char *packet, std::size_t length) const = 0;
    // Decodes the stream's next packet into pcm (capacity frames per channel); the frames
    // written, 0 when the packet is not valid.
    virtual int decode(const unsigned char *packet, std::size_t length, std::int16_t *pcm,
                       int capacity) = 0;
    // Writes `frames` frames of audio that continue the stream in place of a lost packet;
    // the frames written.
    virtual int conceal(std::int16_t *pcm, int frames) = 0;
};
