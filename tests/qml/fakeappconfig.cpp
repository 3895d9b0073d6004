#include "fakeappconfig.h"

FakeAppConfig::FakeAppConfig(QObject *parent) : QObject(parent) {}

void FakeAppConfig::record(const QString &write)
{
    writeLog.append(write);
    emit writesChanged();
}

void FakeAppConfig::store(bool &member, bool on, const char *name, Notify changed, bool logged)
{
    if (member == on)
        return;
    member = on;
    if (logged)
        record(QStringLiteral("%1=%2").arg(QLatin1String(name), on ? "true" : "false"));
    emit(this->*changed)();
}

void FakeAppConfig::setDarkTheme(bool on)
{
    store(darkThemeOn, on, "darkTheme", &FakeAppConfig::darkThemeChanged, true);
}

void FakeAppConfig::setMinimizeToTray(bool on)
{
    store(minimizeToTrayOn, on, "minimizeToTray", &FakeAppConfig::minimizeToTrayChanged, true);
}

void FakeAppConfig::setLaunchOnStartup(bool on)
{
    store(launchOnStartupOn, on, "launchOnStartup", &FakeAppConfig::launchOnStartupChanged, true);
}

void FakeAppConfig::setEnableEventSync(bool on)
{
    store(enableEventSyncOn, on, "enableEventSync", &FakeAppConfig::enableEventSyncChanged, true);
}

void FakeAppConfig::setContinuousCapture(bool on)
{
    store(continuousCaptureOn, on, "continuousCapture", &FakeAppConfig::continuousCaptureChanged,
          true);
}

void FakeAppConfig::setErrorReporting(bool on)
{
    store(errorReportingOn, on, "errorReporting", &FakeAppConfig::errorReportingChanged, true);
}

void FakeAppConfig::setAskBeforeStreaming(bool on)
{
    store(askBeforeStreamingOn, on, "askBeforeStreaming", &FakeAppConfig::askBeforeStreamingChanged,
          true);
}

QString FakeAppConfig::logsDirectory() const
{
    return QStringLiteral("/home/user/.local/share/KestruneServer/Logs");
}

void FakeAppConfig::openLogsDirectory()
{
    record(QStringLiteral("openLogsDirectory()"));
}

void FakeAppConfig::stage(const QString &name, bool on)
{
    struct Entry
    {
        const char *name;
        bool FakeAppConfig::*member;
        Notify changed;
    };
    static const Entry entries[] = {
        {"darkTheme", &FakeAppConfig::darkThemeOn, &FakeAppConfig::darkThemeChanged},
        {"minimizeToTray", &FakeAppConfig::minimizeToTrayOn, &FakeAppConfig::minimizeToTrayChanged},
        {"launchOnStartup", &FakeAppConfig::launchOnStartupOn,
         &FakeAppConfig::launchOnStartupChanged},
        {"enableEventSync", &FakeAppConfig::enableEventSyncOn,
         &FakeAppConfig::enableEventSyncChanged},
        {"continuousCapture", &FakeAppConfig::continuousCaptureOn,
         &FakeAppConfig::continuousCaptureChanged},
        {"errorReporting", &FakeAppConfig::errorReportingOn, &FakeAppConfig::errorReportingChanged},
        {"askBeforeStreaming", &FakeAppConfig::askBeforeStreamingOn,
         &FakeAppConfig::askBeforeStreamingChanged},
    };
    for (const Entry &entry : entries) {
        if (name == QLatin1String(entry.name)) {
            store(this->*entry.member, on, entry.name, entry.changed, false);
            return;
        }
    }
    qFatal("FakeAppConfig::stage: unknown option %s", qPrintable(name));
}

void FakeAppConfig::clearWrites()
{
    writeLog.clear();
    emit writesChanged();
}

void FakeAppConfig::reset()
{
    stage(QStringLiteral("darkTheme"), true);
    stage(QStringLiteral("minimizeToTray"), false);
    stage(QStringLiteral("launchOnStartup"), false);
    stage(QStringLiteral("enableEventSync"), true);
    stage(QStringLiteral("continuousCapture"), true);
    stage(QStringLiteral("errorReporting"), true);
    stage(QStringLiteral("askBeforeStreaming"), false);
    clearWrites();
}
