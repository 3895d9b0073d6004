#include "opusreceiver.h"

#include "core/audiodatagram.h"
#include "ipv4.h"

#include <algorithm>
#include <opus.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int sampleRate = 48000;
constexpr int maxFrames = 5760;

} // namespace

OpusReceiver::OpusReceiver(Unwrap unwrap, double threshold)
    : unwrap(std::move(unwrap)), detector(threshold, sampleRate / 10)
{
}

OpusReceiver::~OpusReceiver()
{
    stop();
}

bool OpusReceiver::start(const std::string &address, std::uint16_t port)
{
    int error = OPUS_OK;
    decoder = opus_decoder_create(sampleRate, 2, &error);
    socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (error != OPUS_OK || socket < 0)
        return false;
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Wakes the loop now and then, so that stop never waits for a datagram.
    const timeval timeout{0, 100000};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const sockaddr_in local = ipv4(address, port);
    if (bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) < 0)
        return false;
    decodeTimes.reserve(1 << 16); // some ten minutes of 10 ms packets
    worker.start([this] { run(); });
    return true;
}

void OpusReceiver::stop()
{
    worker.stop();
    if (socket >= 0)
        close(socket);
    socket = -1;
    if (decoder)
        opus_decoder_destroy(decoder);
    decoder = nullptr;
}

void OpusReceiver::sendFrom(const std::string &address, std::uint16_t port,
                            const std::string &payload)
{
    const sockaddr_in to = ipv4(address, port);
    sendto(socket, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr *>(&to),
           sizeof to);
}

void OpusReceiver::run()
{
    std::vector<unsigned char> datagram(65536);
    std::vector<opus_int16> pcm(std::size_t(maxFrames) * 2);
    while (worker.keepRunning()) {
        const ssize_t size = recv(socket, datagram.data(), datagram.size(), 0);
        if (size <= 0)
            continue;
        const BenchClock::time_point arrived = BenchClock::now();
        const unsigned char *packet = nullptr;
        std::size_t length = 0;
        if (!unwrap(datagram.data(), std::size_t(size), packet, length))
            continue;
        const int frames =
            opus_decode(decoder, packet, opus_int32(length), pcm.data(), maxFrames, 0);
        if (frames <= 0)
            continue;
        const BenchClock::time_point decoded = BenchClock::now();
        detector.feed(pcm.data(), std::size_t(frames), decoded);
        decodeTimes.push_back(millisecondsBetween(arrived, decoded));
        ++received;
    }
}

bool OpusReceiver::audioDatagram(const unsigned char *datagram, std::size_t size,
                                 const unsigned char *&packet, std::size_t &length)
{
    const QByteArrayView opus = AudioDatagram::payload(
        QByteArrayView(reinterpret_cast<const char *>(datagram), qsizetype(size)));
    packet = reinterpret_cast<const unsigned char *>(opus.data());
    length = std::size_t(opus.size());
    return length > 0;
}

bool OpusReceiver::rtp(const unsigned char *datagram, std::size_t size,
                       const unsigned char *&packet, std::size_t &length)
{
    // RFC 3550: 12 bytes, the contributing sources, an optional extension, optional padding.
    if (size < 12 || (datagram[0] >> 6) != 2)
        return false;
    std::size_t header = 12 + 4 * std::size_t(datagram[0] & 0x0F);
    if (datagram[0] & 0x10) {
        if (size < header + 4)
            return false;
        header += 4 + 4 * (std::size_t(datagram[header + 2]) << 8 | datagram[header + 3]);
    }
    std::size_t end = size;
    if (datagram[0] & 0x20)
        end -= std::min<std::size_t>(end, datagram[size - 1]);
    if (end <= header)
        return false;
    packet = datagram + header;
    length = end - header;
    return true;
}
