#include "app/appconfig.h"
#include "app/desktopentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestAppConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstRunHasDefaults();
    void settersWriteOnlyChanges();
    void valuesSurviveARestart();
    void corruptStoreIsReadAsDefaultsAndKept();
    void autostartEntryFollowsTheSwitch();
    void hiddenOrForeignAutostartEntries();
    void execQuotingKeepsThePathOneArgument_data();
    void execQuotingKeepsThePathOneArgument();
    void logsDirectoryIsCreatedOnRead();

private:
    QString settingsFile() const;
    QString autostartFile() const;

    QTemporaryDir home;
};

void TestAppConfig::init()
{
    // Each test gets its own empty configuration and data directories.
    QVERIFY(home.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
    QDir(home.path()).removeRecursively();
    QDir().mkpath(home.path());
}

QString TestAppConfig::settingsFile() const
{
    return home.filePath("config/Vell/KestruneServer.conf");
}

QString TestAppConfig::autostartFile() const
{
    return home.filePath("config/autostart/KestruneServer.desktop");
}

void TestAppConfig::firstRunHasDefaults()
{
    AppConfig config;
    QCOMPARE(config.darkTheme(), true);
    QCOMPARE(config.minimizeToTray(), false);
    QCOMPARE(config.launchOnStartup(), false);
    QCOMPARE(config.enableEventSync(), true);
    QCOMPARE(config.continuousCapture(), true);
    QCOMPARE(config.errorReporting(), true);
    QCOMPARE(config.askBeforeStreaming(), false);
    QSettings().sync();
    QVERIFY2(!QFile::exists(settingsFile()), "construction must write nothing");
}

void TestAppConfig::settersWriteOnlyChanges()
{
    AppConfig config;
    QSignalSpy dark(&config, &AppConfig::darkThemeChanged);
    QSignalSpy tray(&config, &AppConfig::minimizeToTrayChanged);
    config.setDarkTheme(true);
    config.setMinimizeToTray(false);
    config.setErrorReporting(true);
    QCOMPARE(dark.count(), 0);
    QCOMPARE(tray.count(), 0);
    {
        QSettings stored("Vell", "KestruneServer");
        QVERIFY(stored.allKeys().isEmpty());
    }

    config.setDarkTheme(false);
    QCOMPARE(dark.count(), 1);
    QCOMPARE(config.darkTheme(), false);
    QSettings stored("Vell", "KestruneServer");
    QCOMPARE(stored.allKeys(), QStringList{"darkTheme"});
}

void TestAppConfig::valuesSurviveARestart()
{
    {
        AppConfig config;
        config.setDarkTheme(false);
        config.setMinimizeToTray(true);
        config.setEnableEventSync(false);
        config.setContinuousCapture(false);
        config.setErrorReporting(false);
        config.setAskBeforeStreaming(true);
    }
    AppConfig again;
    QCOMPARE(again.darkTheme(), false);
    QCOMPARE(again.minimizeToTray(), true);
    QCOMPARE(again.enableEventSync(), false);
    QCOMPARE(again.continuousCapture(), false);
    QCOMPARE(again.errorReporting(), false);
    QCOMPARE(again.askBeforeStreaming(), true);
}

void TestAppConfig::corruptStoreIsReadAsDefaultsAndKept()
{
    QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
    QByteArray garbage("\xff\xfe[General\n=\x00\x01" "darkTheme\n[[[\nminimizeToTray=\"\n", 40);
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919) & 0xff);
    {
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    {
        AppConfig config;
        QCOMPARE(config.darkTheme(), true);
        QCOMPARE(config.minimizeToTray(), false);
    }
    // Reading never rewrites what the user may still want to repair by hand.
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
    file.close();

    {
        AppConfig config;
        config.setDarkTheme(false);
    }
    QCOMPARE(AppConfig().darkTheme(), false);
}

void TestAppConfig::autostartEntryFollowsTheSwitch()
{
    AppConfig config;
    QSignalSpy changed(&config, &AppConfig::launchOnStartupChanged);
    config.setLaunchOnStartup(false); // off while already absent: harmless, silent
    QCOMPARE(changed.count(), 0);
    QVERIFY(!QFile::exists(autostartFile()));

    config.setLaunchOnStartup(true);
    QCOMPARE(changed.count(), 1);
    QFile entry(autostartFile());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QByteArray content = entry.readAll();
    QVERIFY(content.startsWith("[Desktop Entry]\n"));
    QVERIFY(content.contains("\nExec=" +
                             DesktopEntry::quotedExec(QCoreApplication::applicationFilePath())
                                 .toUtf8() +
                             '\n'));
    // The launcher's icon, and an entry that desktops accept.
    QVERIFY(content.contains("\nIcon=" KESTRUNE_APP_ID "\n"));
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("desktop-file-validate", {autostartFile()});
    QVERIFY(validate.waitForFinished(10000));
    const QByteArray findings = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && findings.isEmpty(), findings.constData());
    QVERIFY(AppConfig().launchOnStartup());

    config.setLaunchOnStartup(false);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!QFile::exists(autostartFile()));
    QVERIFY(!AppConfig().launchOnStartup());
}

void TestAppConfig::hiddenOrForeignAutostartEntries()
{
    QDir().mkpath(QFileInfo(autostartFile()).absolutePath());
    QFile entry(autostartFile());
    QVERIFY(entry.open(QIODevice::WriteOnly));
    // An entry left by a copy of the program elsewhere still counts as on.
    entry.write("[Desktop Entry]\nType=Application\nExec=\"/old/place/KestruneServer\"\n");
    entry.close();
    QVERIFY(AppConfig().launchOnStartup());

    QVERIFY(entry.open(QIODevice::Append));
    entry.write("Hidden=true\n");
    entry.close();
    QVERIFY(!AppConfig().launchOnStartup());
}

// Reads an Exec value back the way a desktop does: key-file unescaping, then the quoted
// argument's own unescaping. The result must be one argument equal to the path.
static QStringList execArguments(const QString &value)
{
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
            unescaped += value[i] == 's' ? QChar(' ') : value[i];
        } else {
            unescaped += value[i];
        }
    }
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool started = false;
    for (int i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted && c == '\\' && i + 1 < unescaped.size()) {
            current += unescaped[++i];
        } else if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
            current += unescaped[++i];
        } else if (c == ' ' && !quoted) {
            if (started)
                arguments << current;
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started)
        arguments << current;
    return arguments;
}

void TestAppConfig::execQuotingKeepsThePathOneArgument_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/usr/bin/KestruneServer";
    QTest::newRow("spaces") << "/home/me/My Programs/Kestrune Server/KestruneServer";
    QTest::newRow("shell characters") << "/opt/a\"b`c$d\\e%f;g/KestruneServer";
}

void TestAppConfig::execQuotingKeepsThePathOneArgument()
{
    QFETCH(QString, path);
    const QString exec = DesktopEntry::quotedExec(path);
    QVERIFY(exec.startsWith('"') && exec.endsWith('"'));
    QCOMPARE(execArguments(exec), QStringList{path});
}

void TestAppConfig::logsDirectoryIsCreatedOnRead()
{
    AppConfig config;
    const QString expected =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/Logs";
    QVERIFY(!QDir(expected).exists());
    const QString logs = config.logsDirectory();
    QCOMPARE(logs, QDir::toNativeSeparators(expected));
    QVERIFY(QDir(expected).exists());
    QVERIFY(QDir::isAbsolutePath(logs));
}

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
