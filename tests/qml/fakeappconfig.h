#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// Stands in for AppConfig behind the same properties, signals and invokable. `writes` lists
// what would have reached the settings store: setter calls that changed a value, and the
// requests to open the logs directory. stage() sets a value as if it had been persisted.
class FakeAppConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool darkTheme READ darkTheme WRITE setDarkTheme NOTIFY darkThemeChanged)
    Q_PROPERTY(bool minimizeToTray READ minimizeToTray WRITE setMinimizeToTray NOTIFY
                   minimizeToTrayChanged)
    Q_PROPERTY(bool launchOnStartup READ launchOnStartup WRITE setLaunchOnStartup NOTIFY
                   launchOnStartupChanged)
    Q_PROPERTY(bool enableEventSync READ enableEventSync WRITE setEnableEventSync NOTIFY
                   enableEventSyncChanged)
    Q_PROPERTY(bool continuousCapture READ continuousCapture WRITE setContinuousCapture NOTIFY
                   continuousCaptureChanged)
    Q_PROPERTY(bool errorReporting READ errorReporting WRITE setErrorReporting NOTIFY
                   errorReportingChanged)
    Q_PROPERTY(bool askBeforeStreaming READ askBeforeStreaming WRITE setAskBeforeStreaming NOTIFY
                   askBeforeStreamingChanged)
    Q_PROPERTY(QString logsDirectory READ logsDirectory CONSTANT)
    Q_PROPERTY(QStringList writes READ writes NOTIFY writesChanged)

public:
    explicit FakeAppConfig(QObject *parent = nullptr);

    bool darkTheme() const { return darkThemeOn; }
    void setDarkTheme(bool on);
    bool minimizeToTray() const { return minimizeToTrayOn; }
    void setMinimizeToTray(bool on);
    bool launchOnStartup() const { return launchOnStartupOn; }
    void setLaunchOnStartup(bool on);
    bool enableEventSync() const { return enableEventSyncOn; }
    void setEnableEventSync(bool on);
    bool continuousCapture() const { return continuousCaptureOn; }
    void setContinuousCapture(bool on);
    bool errorReporting() const { return errorReportingOn; }
    void setErrorReporting(bool on);
    bool askBeforeStreaming() const { return askBeforeStreamingOn; }
    void setAskBeforeStreaming(bool on);
    QString logsDirectory() const;
    QStringList writes() const { return writeLog; }

    Q_INVOKABLE void openLogsDirectory();

    // Test controls, not part of the settings' surface.
    Q_INVOKABLE void stage(const QString &name, bool on);
    Q_INVOKABLE void clearWrites();
    Q_INVOKABLE void reset();

signals:
    void darkThemeChanged();
    void minimizeToTrayChanged();
    void launchOnStartupChanged();
    void enableEventSyncChanged();
    void continuousCaptureChanged();
    void errorReportingChanged();
    void askBeforeStreamingChanged();
    void writesChanged();

private:
    using Notify = void (FakeAppConfig::*)();
    void store(bool &member, bool on, const char *name, Notify changed, bool logged);
    void record(const QString &write);

    QStringList writeLog;
    bool darkThemeOn = true;
    bool minimizeToTrayOn = false;
    bool launchOnStartupOn = false;
    bool enableEventSyncOn = true;
    bool continuousCaptureOn = true;
    bool errorReportingOn = true;
    bool askBeforeStreamingOn = false;
};
