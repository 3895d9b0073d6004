#include "responsivenessprobe.h"

#include "core/servercore.h"

ResponsivenessProbe::ResponsivenessProbe(ServerCore &core) : core(core)
{
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { post(); });
    timer.start(20);
}

void ResponsivenessProbe::post()
{
    const qint64 posted = clock.elapsed();
    if (lastTick >= 0)
        longestTickMs = std::max(longestTickMs, posted - lastTick);
    lastTick = posted;
    // Queued to the timer, which belongs to the probe: calls still queued when the probe
    // goes are dropped with it.
    QMetaObject::invokeMethod(
        &timer,
        [this, posted] {
            const QVariantList devices = core.property("connectedDevices").toList();
            largestTable = std::max(largestTable, int(devices.size()));
            slowestMs = std::max(slowestMs, clock.elapsed() - posted);
            ++answers;
        },
        Qt::QueuedConnection);
}
