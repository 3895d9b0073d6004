#include "support/netns.h"

#include <QFile>

QString TestNetwork::whyNotPrivate()
{
    // /proc/self/net follows the process's own namespace (sysfs follows its mount's).
    QFile devices("/proc/self/net/dev");
    if (!devices.open(QIODevice::ReadOnly))
        return QStringLiteral("the interface list cannot be read");
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QString name = QString::fromLatin1(line.left(colon).trimmed());
        if (name != QLatin1String("lo") && !name.startsWith(QLatin1String("kt")))
            return QStringLiteral("interface %1 may reach other hosts").arg(name);
    }
    return {};
}
