#pragma once

#include "core/senderbuckets.h"
#include "core/tokenbucket.h"

#include <QHostAddress>

// How much any host of the link can make the program do, however fast it sends. A phone
// that follows the protocol stays far inside every limit: a hello every 2 s, a Mute or a
// Quality now and then. Time is a monotonic millisecond count given by the caller; nothing
// is allocated per datagram.
class RateLimits
{
public:
    struct Counts
    {
        int admitted = 0;
        int dropped = 0;
    };

    explicit RateLimits(int initialBitrate);

    // A Mute: each sender gets a burst of 4 and then 2 a second, all senders together 5 a
    // second. A Mute the sender's own bucket refuses takes nothing from the shared one.
    bool admitMute(const QHostAddress &sender, qint64 now);
    // True when the stream's encoder is to be made anew at this bitrate: it is not the
    // current one, and all senders together have made fewer than 4 changes a second.
    bool admitQuality(int bitrate, qint64 now);
    // An address entering the device table: 16 every 10 s. Phones repeat their hello
    // every 2 s, so one refused now gets in a little later.
    bool admitNewcomer(qint64 now);

    Counts mutesPerSender() const { return mutePerSenderCounts; }
    Counts mutesOverall() const { return muteOverallCounts; }
    Counts qualityChanges() const { return qualityCounts; }
    Counts newcomers() const { return newcomerCounts; }

private:
    static bool count(bool admitted, Counts &counts);

    SenderBuckets mutePerSender{4, 2, 1000};
    TokenBucket muteOverall{5, 5, 1000};
    TokenBucket qualityBucket{4, 4, 1000};
    TokenBucket newcomerBucket{16, 16, 10000};
    int currentBitrate;

    Counts mutePerSenderCounts;
    Counts muteOverallCounts;
    Counts qualityCounts;
    Counts newcomerCounts;
};
