#include "audio/playout/opuspacketdecoder.h"

#include <climits>

OpusPacketDecoder::OpusPacketDecoder(int sampleRate, int channels) : sampleRate(sampleRate)
{
    codec.initDecoder(sampleRate, channels);
}

int OpusPacketDecoder::packetFrames(const unsigned char *packet, std::size_t length) const
{
    return length > INT_MAX ? 0 : OpusCodec::packetFrames(packet, int(length), sampleRate);
}

int OpusPacketDecoder::decode(const unsigned char *packet, std::size_t length, std::int16_t *pcm,
                              int capacity)
{
    return length > INT_MAX ? 0 : codec.decode(packet, int(length), pcm, capacity);
}

int OpusPacketDecoder::conceal(std::int16_t *pcm, int frames)
{
    return codec.conceal(pcm, frames);
}
