#include "app/loghandler.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <mutex>

namespace {

// logMutex guards the log file: it keeps the records of two threads from interleaving.
std::mutex logMutex;

} // namespace

void handleQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ");
    std::lock_guard<std::mutex> lock(logMutex);
    // Opened and closed per message so every record is on disk when the call returns.
    QFile file("debug.log");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << stamp << message << '\n';
}
