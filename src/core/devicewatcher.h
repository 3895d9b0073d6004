#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <atomic>

class QTimer;

// Turns the sound system's reports that the devices may have changed, which come from any
// thread and often in bursts, into refreshDue on this object's thread: burstMs after a
// report that ends a quiet spell, otherwise no sooner than minimumGapMs after the last
// refresh, and always once after the last report. It watches the platform installed when
// it is made.
class DeviceWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int minimumGapMs = 250;
    // A change comes as several reports within a few milliseconds (PulseAudio tells of a
    // new sink's properties before the sink is listed): the refresh waits for the rest.
    static constexpr int burstMs = 20;

    explicit DeviceWatcher(QObject *parent = nullptr);
    ~DeviceWatcher() override;

signals:
    void refreshDue();

private:
    // Any thread.
    void reported();
    // This object's thread only, as are the members below reportQueued.
    void takeReport();
    void refresh();

    int watch = 0;
    // Set by the reporting thread when it queues a report for this object's thread, cleared
    // here when the report is taken: a burst queues one event, not one per report.
    std::atomic<bool> reportQueued{false};
    QTimer *gapTimer = nullptr;
    QElapsedTimer sinceRefresh;
};
