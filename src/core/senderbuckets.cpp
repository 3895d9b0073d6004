#include "core/senderbuckets.h"

#include <cstring>

SenderBuckets::SenderBuckets(int burst, int count, qint64 periodMs) : fresh(burst, count, periodMs)
{
}

SenderBuckets::Slot &SenderBuckets::slotFor(const Q_IPV6ADDR &sender, qint64 now)
{
    Slot *unused = nullptr;
    Slot *refilled = nullptr;
    Slot *oldest = nullptr;
    for (Slot &slot : table) {
        if (!slot.used) {
            unused = unused ? unused : &slot;
            continue;
        }
        if (std::memcmp(slot.sender.c, sender.c, sizeof sender.c) == 0)
            return slot;
        if (!refilled && slot.bucket.isFull(now))
            refilled = &slot;
        if (!oldest || slot.lastUsed < oldest->lastUsed)
            oldest = &slot;
    }
    if (Slot *clean = unused ? unused : refilled) {
        *clean = Slot{sender, fresh, now, true};
        return *clean;
    }
    // The newcomer inherits the bucket as it is: were it full, senders taking turns beyond
    // the table's size would each get a fresh burst on every turn.
    oldest->sender = sender;
    return *oldest;
}

bool SenderBuckets::take(const QHostAddress &sender, qint64 now)
{
    // IPv4 senders in their mapped IPv6 form, so that both families share one key.
    Slot &slot = slotFor(sender.toIPv6Address(), now);
    slot.lastUsed = now;
    return slot.bucket.take(now);
}
