#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

// The user's options, kept in the per-user settings store, plus the start-with-login
// registration and the logs directory shown by the Settings page.
class AppConfig : public QObject
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

public:
    explicit AppConfig(QObject *parent = nullptr);

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

    Q_INVOKABLE void openLogsDirectory();

signals:
    void darkThemeChanged();
    void minimizeToTrayChanged();
    void launchOnStartupChanged();
    void enableEventSyncChanged();
    void continuousCaptureChanged();
    void errorReportingChanged();
    void askBeforeStreamingChanged();

private:
    using Notify = void (AppConfig::*)();
    void store(bool &member, bool on, const char *key, Notify changed);

    QSettings settings;
    bool darkThemeOn;
    bool minimizeToTrayOn;
    bool launchOnStartupOn;
    bool enableEventSyncOn;
    bool continuousCaptureOn;
    bool errorReportingOn;
    bool askBeforeStreamingOn;
};
