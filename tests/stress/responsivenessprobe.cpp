#include "responsivenessprobe.h"

#include "core/servercore.h"

ResponsivenessProbe::ResponsivenessProbe(ServerCore &core) : core(core)
{
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, &core, [this] { post(); });
    timer.start(20);
}

void ResponsivenessProbe::post()
{
    const qint64 posted = clock.elapsed();
    if (lastTick >= 0)
        longestTickMs = std::max(longestTickMs, posted - lastTick);
    lastTick = posted;
    QMetaObject::invokeMethod(
        &core,
        [this, posted] {
            const QVariantList devices = core.property("connectedDevices").toList();
            largestTable = std::max(largestTable, int(devices.size()));
            slowestMs = std::max(slowestMs, clock.elapsed() - posted);
            ++answers;
        },
        Qt::QueuedConnection);
}
