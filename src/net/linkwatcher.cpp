#include "net/linkwatcher.h"

LinkWatcher::LinkWatcher(Reader reader) : reader(std::move(reader)) {}

const LinkSnapshot &LinkWatcher::current(qint64 now)
{
    if (readAt == std::numeric_limits<qint64>::min() || now - readAt >= maxAgeMs) {
        snapshot = reader();
        readAt = now;
    }
    return snapshot;
}

bool LinkWatcher::isOnLink(const QHostAddress &sender, qint64 now)
{
    return current(now).isOnLink(sender);
}

bool LinkWatcher::isSingleHost(const QHostAddress &address, qint64 now)
{
    return current(now).isSingleHost(address);
}
