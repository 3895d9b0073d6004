#include "responsivenessprobe.h"

#include "core/servercore.h"

#include <algorithm>

ResponsivenessProbe::ResponsivenessProbe(ServerCore &core) : core(core)
{
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { post(); });
    timer.start(20);
}

qint64 ResponsivenessProbe::medianUs() const
{
    if (waitsUs.empty())
        return 0;
    std::vector<qint64> sorted = waitsUs;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle;
}

void ResponsivenessProbe::post()
{
    const qint64 postedUs = clock.nsecsElapsed() / 1000;
    const qint64 posted = postedUs / 1000;
    if (lastTick >= 0)
        longestTickMs = std::max(longestTickMs, posted - lastTick);
    lastTick = posted;
    // Queued to the timer, which belongs to the probe: calls still queued when the probe
    // goes are dropped with it.
    QMetaObject::invokeMethod(
        &timer,
        [this, postedUs] {
            const QVariantList devices = core.property("connectedDevices").toList();
            largestTable = std::max(largestTable, int(devices.size()));
            const qint64 waitUs = clock.nsecsElapsed() / 1000 - postedUs;
            waitsUs.push_back(waitUs);
            slowestMs = std::max(slowestMs, waitUs / 1000);
            ++answers;
        },
        Qt::QueuedConnection);
}
