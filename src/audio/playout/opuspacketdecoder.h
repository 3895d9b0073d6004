#pragma once

#include "audio/opuscodec.h"
#include "audio/playout/packetdecoder.h"

// The packets of the audio datagrams: Opus, with libopus' own packet-loss concealment.
class OpusPacketDecoder final : public PacketDecoder
{
public:
    OpusPacketDecoder(int sampleRate, int channels);

    int packetFrames(const unsigned char *packet, std::size_t length) const override;
    int decode(const unsigned char *packet, std::size_t length, std::int16_t *pcm,
               int capacity) override;
    int conceal(std::int16_t *pcm, int frames) override;

private:
    const int sampleRate;
    OpusCodec codec;
};
