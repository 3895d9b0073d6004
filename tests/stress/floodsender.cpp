#include "floodsender.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const prefixes[] = {
    "Kestrune-Hello|",       "Kestrune-Server|",        "Kestrune-Cmd|Mute",
    "Kestrune-Cmd|Quality|", "Kestrune-Cmd|Disconnect", "Kestrune-Cmd|Volume|",
};
// Quality fields a careless or hostile sender might use.
const char *const qualityFields[] = {"64",      "0",           "-5",  "abc",    "1",    "2147483",
                                     "2147484", "99999999999", " 64", "64kbps", "+128", ""};

} // namespace

FloodSender::FloodSender(std::vector<quint16> ports, int count, int durationMs, int senders,
                         Content content)
    : ports(std::move(ports)), count(count), durationMs(durationMs), senders(senders),
      content(std::move(content))
{
}

FloodSender::~FloodSender()
{
    if (thread.joinable())
        thread.join();
    for (const int socket : sockets)
        ::close(socket);
}

bool FloodSender::start()
{
    for (int i = 0; i < senders; ++i) {
        const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (socket < 0)
            return false;
        sockets.push_back(socket);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | (1u << 16) | std::uint32_t(i + 1));
        if (::bind(socket, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0)
            return false;
    }
    thread = std::thread(&FloodSender::run, this);
    return true;
}

qint64 FloodSender::sendWhileTheEventLoopRuns(int settleMs)
{
    QElapsedTimer flooding;
    flooding.start();
    if (!start())
        return -1;
    qint64 tookMs = 0;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!finished())
            return;
        if (!tookMs)
            tookMs = flooding.elapsed();
        else if (flooding.elapsed() - tookMs >= settleMs)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    return tookMs;
}

void FloodSender::run()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    const int total = count * int(ports.size());
    for (int i = 0; i < total; ++i) {
        // Paced against the clock, so a slow moment is caught up rather than stretched.
        const auto due =
            begin + std::chrono::microseconds(std::int64_t(durationMs) * 1000 * i / total);
        if (Clock::now() < due)
            std::this_thread::sleep_until(due);
        const quint16 port = ports[std::size_t(i) % ports.size()];
        const std::string datagram = content(port);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int socket = sockets[std::size_t(i) / ports.size() % sockets.size()];
        if (::sendto(socket, datagram.data(), datagram.size(), MSG_DONTWAIT,
                     reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0)
            ++accepted;
    }
    done = true;
}

FloodSender::Content FloodSender::repeated(std::string datagram)
{
    return [datagram = std::move(datagram)](quint16) { return datagram; };
}

FloodSender::Content FloodSender::hostileMix(std::uint32_t seed)
{
    // xorshift32: the same flood for the same seed.
    auto state = std::make_shared<std::uint32_t>(seed);
    const auto next = [state] {
        *state ^= *state << 13;
        *state ^= *state >> 17;
        *state ^= *state << 5;
        return *state;
    };
    const auto bytes = [next](std::size_t length) {
        std::string text(length, '\0');
        for (char &c : text)
            c = char(next());
        return text;
    };

    return [next, bytes](quint16 port) -> std::string {
        switch (next() % 6) {
        case 0: // noise, now and then as large as UDP allows
            return bytes(next() % 50 == 0 ? 60000 + next() % 5000 : next() % 1500);
        case 1: { // a prefix cut short, or whole and followed by noise
            const std::string prefix = prefixes[next() % std::size(prefixes)];
            if (next() % 2)
                return prefix.substr(0, next() % prefix.size());
            return prefix + bytes(next() % 300);
        }
        case 2: // a Quality command with a field of any kind
            return std::string(prefixes[3]) + qualityFields[next() % std::size(qualityFields)];
        case 3: // a hello with a random name, invalid UTF-8 included
            return std::string(prefixes[next() % 2]) + bytes(next() % 200);
        case 4: // a Disconnect of a spoofed sender, with or without trailing text
            return std::string(prefixes[4]) + bytes(next() % 3);
        default: { // an audio header whose length field says anything
            std::string datagram = bytes(port == 8080 ? next() % 600 : 17);
            if (datagram.size() >= 17) {
                const std::uint16_t length = std::uint16_t(next());
                datagram[15] = char(length & 0xFF);
                datagram[16] = char(length >> 8);
            }
            return datagram;
        }
        }
    };
}
