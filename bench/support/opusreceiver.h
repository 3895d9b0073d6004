#pragma once

#include "onsetdetector.h"
#include "workerthread.h"

#include <cstdint>
#include <functional>
#include <string>

struct OpusDecoder;

// Receives a stream of Opus packets over UDP on a thread of its own, decodes each one as it
// arrives and finds the clicks in the decoded audio, stamped with the moment the frame that
// holds them was decoded. The same code serves every stream format; only the unwrapping of
// the packet from its datagram differs.
class OpusReceiver
{
public:
    // Points packet and length at the Opus packet inside a datagram; false to drop it.
    using Unwrap = std::function<bool(const unsigned char *datagram, std::size_t size,
                                      const unsigned char *&packet, std::size_t &length)>;

    OpusReceiver(Unwrap unwrap, double threshold);
    ~OpusReceiver();

    // Binds address:port (an IPv4 address), shared with whoever else listens there.
    bool start(const std::string &address, std::uint16_t port);
    void stop();
    // Sends a datagram from the receiving socket, so that its source is the receiver.
    void sendFrom(const std::string &address, std::uint16_t port, const std::string &payload);

    int packets() const { return received; }
    // Read after stop.
    const std::vector<BenchClock::time_point> &onsets() const { return detector.onsets(); }
    // How long each packet took from the socket to decoded audio, in milliseconds.
    const std::vector<double> &decodeMs() const { return decodeTimes; }

    // The unwrappers of the two formats measured.
    static bool audioDatagram(const unsigned char *datagram, std::size_t size,
                              const unsigned char *&packet, std::size_t &length);
    static bool rtp(const unsigned char *datagram, std::size_t size, const unsigned char *&packet,
                    std::size_t &length);

private:
    void run();

    Unwrap unwrap;
    OnsetDetector detector;          // the receiving thread's until stop
    std::vector<double> decodeTimes; // likewise
    OpusDecoder *decoder = nullptr;
    int socket = -1;
    std::atomic<int> received{0};
    WorkerThread worker;
};
