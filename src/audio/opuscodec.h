#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct OpusEncoder;
struct OpusDecoder;

// One Opus encoder and one Opus decoder for interleaved 16-bit PCM. The encoder may be
// re-created on one thread while another encodes with it; the decoder is for one thread.
class OpusCodec
{
public:
    // The largest packet encode produces.
    static constexpr int maxPacketSize = 4000;

    OpusCodec();
    ~OpusCodec();
    OpusCodec(const OpusCodec &) = delete;
    OpusCodec &operator=(const OpusCodec &) = delete;

    // Replaces the encoder; on failure there is none until a later call succeeds.
    bool initEncoder(int sampleRate, int channels, int bitrate);
    bool initDecoder(int sampleRate, int channels);

    // One frame of frameSize samples per channel to one packet; empty on failure.
    std::vector<unsigned char> encode(const std::int16_t *pcm, int frameSize);
    // The same into a caller's buffer, for callers that must not allocate per frame: the
    // packet's length, 0 on failure.
    int encode(const std::int16_t *pcm, int frameSize, unsigned char *packet, int capacity);
    // Samples per channel written to pcm (capacity is per channel too), 0 on failure.
    int decode(const unsigned char *data, int length, std::int16_t *pcm, int capacity);
    // Writes frames samples per channel that carry the decoded audio on over a lost packet
    // (libopus' packet-loss concealment); frames must be a multiple of 2.5 ms. The count
    // written, 0 on failure.
    int conceal(std::int16_t *pcm, int frames);

    // Samples per channel in a packet, read from its table of contents alone (no decoder
    // state, any thread); 0 when it is not a valid packet.
    static int packetFrames(const unsigned char *data, int length, int sampleRate);

private:
    OpusEncoder *encoder = nullptr;
    OpusDecoder *decoder = nullptr;
    // Guards encoder: the capture thread encodes with it while the GUI thread may re-create
    // it. Held for the whole of each encode and each initEncoder.
    std::mutex encoderLock;
};
