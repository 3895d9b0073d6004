#include "app/loghandler.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QTextStream>

namespace {

// logMutex guards the log file: it keeps the records of two threads from interleaving.
QMutex logMutex;

} // namespace

void handleQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ");
    QMutexLocker lock(&logMutex);
    // Opened and closed per message so every record is on disk when the call returns.
    QFile file("debug.log");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << stamp << message << '\n';
}
