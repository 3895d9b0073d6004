#include "app/startupregistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#ifdef Q_OS_WIN

namespace {

const char runKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char valueName[] = "KestruneServer";

} // namespace

bool StartupRegistration::isPresent()
{
    QSettings run(runKey, QSettings::NativeFormat);
    return run.contains(valueName);
}

void StartupRegistration::apply(bool enable)
{
    const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    QSettings run(runKey, QSettings::NativeFormat);
    if (enable)
        run.setValue(valueName, QStringLiteral("\"%1\"").arg(path));
    else
        run.remove(valueName);
}

#else

#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "app/desktopentry.h"

namespace {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) +
           "/autostart/KestruneServer.desktop";
}

} // namespace

bool StartupRegistration::isPresent()
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return !DesktopEntry::isHidden(file.readAll());
}

void StartupRegistration::apply(bool enable)
{
    const QString path = entryPath();
    if (!enable) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(DesktopEntry::autostartEntry(QCoreApplication::applicationFilePath()));
    file.commit();
}

#endif
