#include "net/linkwatcher.h"

LinkWatcher::LinkWatcher(Reader reader) : reader(std::move(reader)) {}

bool LinkWatcher::isOnLink(const QHostAddress &sender, qint64 now)
{
    if (readAt == std::numeric_limits<qint64>::min() || now - readAt >= maxAgeMs) {
        snapshot = reader();
        readAt = now;
    }
    return snapshot.isOnLink(sender);
}
