#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <vector>

class ServerCore;

// How long a read of a core property waits behind whatever the event loop is busy with: a
// queued call every 20 ms, timed from its posting to its run.
class ResponsivenessProbe
{
public:
    explicit ResponsivenessProbe(ServerCore &core);

    // The middle of the waits so far, in microseconds; 0 before the first answer.
    qint64 medianUs() const;

    qint64 slowestMs = 0;
    qint64 longestTickMs = 0; // between two timeouts of the 20 ms timer
    int answers = 0;
    int largestTable = 0;

private:
    void post();

    ServerCore &core;
    QElapsedTimer clock;
    QTimer timer;
    qint64 lastTick = -1;
    std::vector<qint64> waitsUs;
};
