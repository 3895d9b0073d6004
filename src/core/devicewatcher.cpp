#include "core/devicewatcher.h"

#include "audio/platform/audioplatform.h"

#include <QTimer>

DeviceWatcher::DeviceWatcher(QObject *parent) : QObject(parent), gapTimer(new QTimer(this))
{
    gapTimer->setSingleShot(true);
    gapTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    connect(gapTimer, &QTimer::timeout, this, &DeviceWatcher::refresh);
    watch = AudioPlatform::instance().watchDevices([this] { reported(); });
}

DeviceWatcher::~DeviceWatcher()
{
    // After this no report runs, so none can queue an event for a dead object.
    AudioPlatform::instance().unwatchDevices(watch);
}

void DeviceWatcher::reported()
{
    if (!reportQueued.exchange(true))
        QMetaObject::invokeMethod(this, &DeviceWatcher::takeReport, Qt::QueuedConnection);
}

void DeviceWatcher::takeReport()
{
    reportQueued = false;
    if (gapTimer->isActive())
        return; // the refresh it brings reads what this report announced
    const qint64 since = sinceRefresh.isValid() ? sinceRefresh.elapsed() : minimumGapMs;
    gapTimer->start(int(qMax<qint64>(burstMs, minimumGapMs - since)));
}

void DeviceWatcher::refresh()
{
    sinceRefresh.restart();
    emit refreshDue();
}
