// Port 8080 takes datagrams from anyone on the network. In player mode each one is parsed
// and its Opus packet decoded on the GUI thread, into a buffer sized once for the longest
// frame; one decoder carries its state from datagram to datagram, as in the program.
#include "audio/opuscodec.h"
#include "core/audiodatagram.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
constexpr int maxDecodeFrameSize = 5760; // samples per channel in 120 ms

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static OpusCodec *decoder = [] {
        auto *codec = new OpusCodec;
        if (!codec->initDecoder(sampleRate, channels))
            std::abort();
        return codec;
    }();
    static std::vector<std::int16_t> pcm(std::size_t(maxDecodeFrameSize) * channels);

    const QByteArrayView datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArrayView packet = AudioDatagram::payload(datagram);
    if (packet.isEmpty())
        return 0;
    // The packet is always the part right after the header, never beyond what arrived.
    if (packet.data() != datagram.data() + AudioDatagram::headerSize ||
        packet.size() > datagram.size() - AudioDatagram::headerSize)
        std::abort();
    const int decoded = decoder->decode(reinterpret_cast<const unsigned char *>(packet.data()),
                                        int(packet.size()), pcm.data(), maxDecodeFrameSize);
    if (decoded < 0 || decoded > maxDecodeFrameSize)
        std::abort();
    return 0;
}
