#include "limitcounts.h"

#include "core/ratelimits.h"

namespace {

QString admittedAndDropped(const char *name, RateLimits::Counts counts)
{
    return QStringLiteral("%1 %2/%3")
        .arg(QLatin1String(name))
        .arg(counts.admitted)
        .arg(counts.dropped);
}

} // namespace

QString limitCounts(const RateLimits &limits)
{
    return QStringList{admittedAndDropped("Mute per sender", limits.mutesPerSender()),
                       admittedAndDropped("Mute overall", limits.mutesOverall()),
                       admittedAndDropped("Quality", limits.qualityChanges()),
                       admittedAndDropped("newcomers", limits.newcomers())}
        .join(QStringLiteral(", "));
}
