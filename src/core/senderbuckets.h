#pragma once

#include "core/tokenbucket.h"

#include <QHostAddress>
#include <array>

// One token bucket per sender, in a table of fixed size, so that a flood from any number of
// addresses allocates nothing. When the table is full, a newcomer takes the place of a
// sender whose bucket has filled up again (which it would find just as it was) or else the
// bucket, as drained as it is, of the sender heard from longest ago: however many addresses
// take turns, together they get no more than the table's buckets give.
class SenderBuckets
{
public:
    static constexpr int tableSize = 64;

    SenderBuckets(int burst, int count, qint64 periodMs);

    // True, and one token fewer in the sender's bucket, when it has one.
    bool take(const QHostAddress &sender, qint64 now);

private:
    struct Slot
    {
        Q_IPV6ADDR sender{};
        TokenBucket bucket{0, 0, 1}; // replaced when the slot is taken
        qint64 lastUsed = 0;
        bool used = false;
    };

    Slot &slotFor(const Q_IPV6ADDR &sender, qint64 now);

    const TokenBucket fresh;
    std::array<Slot, tableSize> table;
};
