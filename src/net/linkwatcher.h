#pragma once

#include "net/linksnapshot.h"

#include <QtGlobal>
#include <functional>
#include <limits>

// Keeps the link facts fresh without a timer of its own: a check on a reading older than
// a second reads the interfaces again, so an interface that comes, goes or changes its
// address counts within a second of the next datagram, and a flood of datagrams costs at
// most one reading a second. Time is a monotonic millisecond count given by the caller.
class LinkWatcher
{
public:
    using Reader = std::function<LinkSnapshot()>;
    static constexpr qint64 maxAgeMs = 1000;

    explicit LinkWatcher(Reader reader = &LinkSnapshot::ofThisComputer);

    bool isOnLink(const QHostAddress &sender, qint64 now);

private:
    Reader reader;
    LinkSnapshot snapshot;
    qint64 readAt = std::numeric_limits<qint64>::min();
};
