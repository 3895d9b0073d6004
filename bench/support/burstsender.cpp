#include "burstsender.h"

#include "core/audiodatagram.h"
#include "ipv4.h"

#include <QByteArray>
#include <cmath>
#include <opus.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int sampleRate = 48000;
constexpr int frameSize = 480;
constexpr int burstFrames = 2; // 20 ms of tone
constexpr double burstHz = 1000;

} // namespace

BurstSender::BurstSender(int burstEvery, const SendPattern &pattern, double baseLevel)
    : burstEvery(burstEvery), pattern(pattern), baseLevel(baseLevel)
{
}

BurstSender::~BurstSender()
{
    stop();
}

bool BurstSender::start(const std::string &from, const std::string &to, std::uint16_t port)
{
    int error = OPUS_OK;
    encoder = opus_encoder_create(sampleRate, 2, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK)
        return false;
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(128000));
    socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in local = ipv4(from, 0);
    const sockaddr_in remote = ipv4(to, port);
    if (socket < 0 || bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) < 0 ||
        connect(socket, reinterpret_cast<const sockaddr *>(&remote), sizeof remote) < 0)
        return false;
    worker.start([this] { run(); });
    return true;
}

void BurstSender::stop()
{
    worker.stop();
    if (socket >= 0)
        close(socket);
    socket = -1;
    if (encoder)
        opus_encoder_destroy(encoder);
    encoder = nullptr;
}

void BurstSender::run()
{
    std::vector<opus_int16> pcm(std::size_t(frameSize) * 2);
    unsigned char packet[4000];
    QByteArray datagram;
    SendSchedule schedule(pattern);
    const auto at = [begin = BenchClock::now()](double ms) {
        return begin + std::chrono::duration_cast<BenchClock::duration>(
                           std::chrono::duration<double, std::milli>(ms));
    };
    for (std::int64_t frame = 0; worker.keepRunning(); ++frame) {
        const std::int64_t intoBurst = frame % burstEvery;
        const double level = intoBurst < burstFrames ? 0.5 : baseLevel;
        for (int i = 0; i < frameSize; ++i) {
            // Whole periods in a frame: the phase runs on from frame to frame.
            const double t = double(intoBurst * frameSize + i) / sampleRate;
            const double value = level * std::sin(2 * M_PI * burstHz * t + M_PI / 2);
            pcm[2 * std::size_t(i)] = pcm[2 * std::size_t(i) + 1] = opus_int16(value * 32767);
        }
        const int length = opus_encode(encoder, pcm.data(), frameSize, packet, sizeof packet);
        if (length <= 0 ||
            !AudioDatagram::build(datagram, std::uint32_t(frame), 0, sampleRate,
                                  QByteArrayView(reinterpret_cast<const char *>(packet), length)))
            continue;
        const BenchClock::time_point made = at(schedule.dueMs(frame));
        std::this_thread::sleep_until(at(schedule.releaseMs(frame)));
        send(socket, datagram.constData(), std::size_t(datagram.size()), 0);
        if (intoBurst == 0)
            bursts.push_back(made);
    }
}
