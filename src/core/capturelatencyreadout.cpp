#include "core/capturelatencyreadout.h"

#include <QTimer>

CaptureLatencyReadOut::CaptureLatencyReadOut(std::function<int()> measure, int intervalMs,
                                             QObject *parent)
    : QObject(parent), measure(std::move(measure)), timer(new QTimer(this))
{
    timer->setInterval(intervalMs);
    connect(timer, &QTimer::timeout, this, [this] {
        show(this->measure());
        emit measured(latency);
    });
}

void CaptureLatencyReadOut::start()
{
    timer->start();
}

void CaptureLatencyReadOut::stop()
{
    timer->stop();
    show(0);
}

void CaptureLatencyReadOut::show(int ms)
{
    if (ms == latency)
        return;
    latency = ms;
    emit latencyChanged();
}
