#include "app/loghandler.h"

#include "app/logsdirectory.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <mutex>

namespace {

// logMutex guards logFile and the writes: it keeps the records of two threads from
// interleaving.
std::mutex logMutex;
// Never freed: messages come from exit handlers too, after the program's own statics are
// gone. Null until installLogHandler; then every record goes to standard error.
const QString *logFile = nullptr;

bool append(const QString &path, const QByteArray &record)
{
    // Opened and closed per message so every record is on disk when the call returns.
    QFile file(path);
    const auto mode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    return file.open(mode) && file.write(record) == record.size();
}

} // namespace

QtMessageHandler installLogHandler()
{
    const QString *path = new QString(logsDirectory() + QStringLiteral("/debug.log"));
    {
        std::lock_guard<std::mutex> lock(logMutex);
        std::swap(path, logFile);
    }
    delete path;
    return qInstallMessageHandler(handleQtMessage);
}

void handleQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    // Writing the file may itself raise a message; handled here it would wait forever for
    // the lock this thread holds, so it is dropped.
    thread_local bool handling = false;
    if (handling)
        return;
    handling = true;

    const QByteArray record =
        (QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ") + message + '\n')
            .toUtf8();
    {
        std::lock_guard<std::mutex> lock(logMutex);
        bool written = false;
        if (logFile) {
            written = append(*logFile, record);
            // A folder removed while the program runs is made again.
            if (!written && QDir().mkpath(QFileInfo(*logFile).absolutePath()))
                written = append(*logFile, record);
        }
        // Where the folder cannot take it, standard error is the one place left.
        if (!written) {
            std::fwrite(record.constData(), 1, std::size_t(record.size()), stderr);
            std::fflush(stderr);
        }
    }
    handling = false;
}
