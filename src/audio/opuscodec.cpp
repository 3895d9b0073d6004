#include "audio/opuscodec.h"

#include <opus.h>

#include <algorithm>

OpusCodec::OpusCodec() = default;

OpusCodec::~OpusCodec()
{
    if (encoder)
        opus_encoder_destroy(encoder);
    if (decoder)
        opus_decoder_destroy(decoder);
}

bool OpusCodec::initEncoder(int sampleRate, int channels, int bitrate)
{
    std::lock_guard<std::mutex> lock(encoderLock);
    if (encoder)
        opus_encoder_destroy(encoder);
    int error = OPUS_OK;
    encoder = opus_encoder_create(sampleRate, channels, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK || !encoder) {
        encoder = nullptr;
        return false;
    }
    // A rate libopus rejects leaves its default in force; rates out of range it clamps.
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate));
    return true;
}

bool OpusCodec::initDecoder(int sampleRate, int channels)
{
    if (decoder)
        opus_decoder_destroy(decoder);
    int error = OPUS_OK;
    decoder = opus_decoder_create(sampleRate, channels, &error);
    if (error != OPUS_OK || !decoder) {
        decoder = nullptr;
        return false;
    }
    return true;
}

std::vector<unsigned char> OpusCodec::encode(const std::int16_t *pcm, int frameSize)
{
    unsigned char packet[maxPacketSize];
    const int length = encode(pcm, frameSize, packet, maxPacketSize);
    return std::vector<unsigned char>(packet, packet + length);
}

int OpusCodec::encode(const std::int16_t *pcm, int frameSize, unsigned char *packet, int capacity)
{
    std::lock_guard<std::mutex> lock(encoderLock);
    if (!encoder)
        return 0;
    const int length =
        opus_encode(encoder, pcm, frameSize, packet, std::min(capacity, maxPacketSize));
    return std::max(length, 0);
}

int OpusCodec::decode(const unsigned char *data, int length, std::int16_t *pcm, int capacity)
{
    // libopus takes a missing packet as a request to conceal a loss and invents audio.
    if (!decoder || !data || length <= 0)
        return 0;
    return std::max(opus_decode(decoder, data, length, pcm, capacity, 0), 0);
}

int OpusCodec::conceal(std::int16_t *pcm, int frames)
{
    if (!decoder || !pcm || frames <= 0)
        return 0;
    return std::max(opus_decode(decoder, nullptr, 0, pcm, frames, 0), 0);
}

int OpusCodec::packetFrames(const unsigned char *data, int length, int sampleRate)
{
    if (!data || length <= 0)
        return 0;
    return std::max(opus_packet_get_nb_samples(data, length, sampleRate), 0);
}
