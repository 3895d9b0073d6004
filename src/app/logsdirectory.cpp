#include "app/logsdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QString logsDirectory()
{
    const QString path =
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
             QStringLiteral("/Logs"))
            .absolutePath();
    QDir().mkpath(path);
    return path;
}

void nameProgramEarly(const char *argv0)
{
    if (!argv0 || !*argv0 || !QCoreApplication::applicationName().isEmpty())
        return;
    QCoreApplication::setApplicationName(QFileInfo(QFile::decodeName(argv0)).completeBaseName());
}
