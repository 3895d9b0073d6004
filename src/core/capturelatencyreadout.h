#pragma once

#include <QObject>
#include <functional>

class QTimer;

// The Server page's capture latency: what the sending path measured, taken once a second
// while streaming, so that the number holds still long enough to be read. GUI thread only.
class CaptureLatencyReadOut : public QObject
{
    Q_OBJECT

public:
    // measure returns the sending path's latency now, in ms.
    CaptureLatencyReadOut(std::function<int()> measure, int intervalMs, QObject *parent);

    int latencyMs() const { return latency; }
    // Takes a reading every interval from now on.
    void start();
    // Ends the readings; the read-out falls to 0, which is no measurement.
    void stop();

signals:
    void latencyChanged();
    // Every reading taken while streaming, changed or not.
    void measured(int ms);

private:
    void show(int ms);

    std::function<int()> measure;
    QTimer *timer = nullptr;
    int latency = 0;
};
