#include "presencelistener.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

PresenceListener::PresenceListener(const std::string &broadcastAddress)
{
    const int candidate = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    timeval wake{0, 100 * 1000}; // so that stopping is seen
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8082);
    if (candidate < 0 || ::inet_pton(AF_INET, broadcastAddress.c_str(), &address.sin_addr) != 1 ||
        ::setsockopt(candidate, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(candidate, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake) != 0 ||
        ::bind(candidate, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (candidate >= 0)
            ::close(candidate);
        return;
    }
    socket = candidate;
    thread = std::thread(&PresenceListener::run, this);
}

PresenceListener::~PresenceListener()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
    if (socket >= 0)
        ::close(socket);
}

void PresenceListener::run()
{
    const char prefix[] = "Kestrune-Server|";
    char datagram[512];
    while (!stopping) {
        const ssize_t length = ::recv(socket, datagram, sizeof datagram, 0);
        if (length < ssize_t(sizeof prefix - 1) ||
            std::memcmp(datagram, prefix, sizeof prefix - 1) != 0)
            continue;
        std::lock_guard<std::mutex> guard(lock);
        heard.push_back(std::chrono::steady_clock::now());
    }
}

std::vector<qint64> PresenceListener::intervalsMs() const
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<qint64> intervals;
    for (std::size_t i = 1; i < heard.size(); ++i)
        intervals.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(heard[i] - heard[i - 1]).count());
    return intervals;
}
