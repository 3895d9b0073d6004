#include "app/appconfig.h"

#include "app/logsdirectory.h"
#include "app/startupregistration.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

AppConfig::AppConfig(QObject *parent)
    : QObject(parent), settings("Vell", "KestruneServer"),
      darkThemeOn(settings.value("darkTheme", true).toBool()),
      minimizeToTrayOn(settings.value("minimizeToTray", false).toBool()),
      launchOnStartupOn(StartupRegistration::isPresent()),
      enableEventSyncOn(settings.value("enableEventSync", true).toBool()),
      continuousCaptureOn(settings.value("continuousCapture", true).toBool()),
      errorReportingOn(settings.value("errorReporting", true).toBool()),
      askBeforeStreamingOn(settings.value("askBeforeStreaming", false).toBool())
{
}

void AppConfig::store(bool &member, bool on, const char *key, Notify changed)
{
    if (member == on)
        return;
    member = on;
    settings.setValue(key, on);
    emit(this->*changed)();
}

void AppConfig::setDarkTheme(bool on)
{
    store(darkThemeOn, on, "darkTheme", &AppConfig::darkThemeChanged);
}

void AppConfig::setMinimizeToTray(bool on)
{
    store(minimizeToTrayOn, on, "minimizeToTray", &AppConfig::minimizeToTrayChanged);
}

void AppConfig::setEnableEventSync(bool on)
{
    store(enableEventSyncOn, on, "enableEventSync", &AppConfig::enableEventSyncChanged);
}

void AppConfig::setContinuousCapture(bool on)
{
    store(continuousCaptureOn, on, "continuousCapture", &AppConfig::continuousCaptureChanged);
}

void AppConfig::setErrorReporting(bool on)
{
    store(errorReportingOn, on, "errorReporting", &AppConfig::errorReportingChanged);
}

void AppConfig::setAskBeforeStreaming(bool on)
{
    store(askBeforeStreamingOn, on, "askBeforeStreaming", &AppConfig::askBeforeStreamingChanged);
}

void AppConfig::setLaunchOnStartup(bool on)
{
    if (launchOnStartupOn == on)
        return;
    launchOnStartupOn = on;
    StartupRegistration::apply(on);
    emit launchOnStartupChanged();
}

QString AppConfig::logsDirectory() const
{
    return QDir::toNativeSeparators(::logsDirectory());
}

void AppConfig::openLogsDirectory()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(logsDirectory()));
}
