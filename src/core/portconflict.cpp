#include "core/portconflict.h"

#include <QStringList>
#include <QtDebug>

QString portConflictText(const QList<quint16> &portsInUse)
{
    if (portsInUse.isEmpty())
        return QString();
    if (portsInUse.size() == 1)
        return QStringLiteral("Port %1 is in use by another program").arg(portsInUse.first());
    QStringList numbers;
    for (const quint16 port : portsInUse)
        numbers.append(QString::number(port));
    const QString last = numbers.takeLast();
    return QStringLiteral("Ports %1 and %2 are in use by another program")
        .arg(numbers.join(QStringLiteral(", ")), last);
}

bool PortConflictLine::update(const QList<quint16> &portsInUse)
{
    const QString now = portConflictText(portsInUse);
    if (now == line)
        return false;
    line = now;
    if (!line.isEmpty())
        qWarning("%s", qPrintable(line));
    return true;
}
