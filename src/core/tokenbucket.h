#pragma once

#include <QtGlobal>

// A token bucket in whole-number arithmetic: it holds at most `burst` tokens, starts full
// and gets `count` tokens back every `periodMs`, continuously. Time is a monotonic
// millisecond count given by the caller; it never goes back.
class TokenBucket
{
public:
    TokenBucket(int burst, int count, qint64 periodMs);

    // True, and one token fewer, when a token is there.
    bool take(qint64 now);
    bool isFull(qint64 now);

private:
    void refill(qint64 now);

    // Levels are in units of 1/periodMs of a token times count, so that every millisecond
    // adds exactly `count` units and a token costs `periodMs` units.
    qint64 unitsPerMs;
    qint64 unitsPerToken;
    qint64 capacity;
    qint64 level;
    qint64 refilledAt = 0;
    bool started = false;
};
