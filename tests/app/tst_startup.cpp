#include "support/netns.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KestrunePlugin)

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void moduleDirectoryIsServedByteForByte();
    void documentsAndLogoAreCompiledIn();
    void brokenMainDocumentExitsWithMinusOne();
    void firstBindingSeesThePersistedTheme_data();
    void firstBindingSeesThePersistedTheme();
    void frameworkMessagesReachTheLogsDirectoryAcrossRuns();

private:
    int runProbe(const QString &document, const QStringList &extraEnvironment = {});

    QTemporaryDir sandbox;
};

void TestStartup::initTestCase()
{
    // The probe constructs the streaming core, which binds and broadcasts.
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(sandbox.isValid());
}

int TestStartup::runProbe(const QString &document, const QStringList &extraEnvironment)
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", sandbox.filePath("config"));
    environment.insert("XDG_DATA_HOME", sandbox.filePath("data"));
    for (const QString &variable : extraEnvironment)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    probe.setProcessEnvironment(environment);
    probe.setWorkingDirectory(sandbox.path());
    probe.start(STARTUP_PROBE, {document});
    if (!probe.waitForFinished(30000)) {
        probe.kill();
        return -1000;
    }
    return probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -2000;
}

void TestStartup::moduleDirectoryIsServedByteForByte()
{
    QFile qmldir(":/Kestrune/qmldir");
    QVERIFY(qmldir.open(QIODevice::ReadOnly));
    QCOMPARE(qmldir.readAll(), QByteArray("module Kestrune\r\n"
                                          "typeinfo KestruneServer.qmltypes\r\n"
                                          "prefer :/Kestrune/\r\n"
                                          "ServerTab 1.0 ui/ServerTab.qml\r\n"
                                          "PlayerTab 1.0 ui/PlayerTab.qml\r\n"
                                          "SettingsTab 1.0 ui/SettingsTab.qml\r\n"
                                          "DeviceComboBox 1.0 ui/DeviceComboBox.qml\r\n"
                                          "singleton Theme 1.0 ui/Theme.qml\r\n"
                                          "depends QtQuick\r\n"
                                          "\r\n"));
}

void TestStartup::documentsAndLogoAreCompiledIn()
{
    for (const char *document :
         {"main", "ServerTab", "PlayerTab", "SettingsTab", "Theme", "DeviceComboBox"})
        QVERIFY(QFile::exists(QStringLiteral(":/Kestrune/ui/%1.qml").arg(document)));
    QImage logo(":/Kestrune/ui/images/logo.png");
    QCOMPARE(logo.size(), QSize(512, 512));
}

void TestStartup::brokenMainDocumentExitsWithMinusOne()
{
    QCOMPARE(runProbe("qrc:/probe/broken.qml"), 255);
    QCOMPARE(runProbe("qrc:/probe/missing.qml"), 255);
}

void TestStartup::firstBindingSeesThePersistedTheme_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expectedExit");
    // The settings object's own binding, and the program's window with every page in it.
    for (const char *document : {"reportstheme", "reportswindowtheme"}) {
        const QString probe = QStringLiteral("qrc:/probe/%1.qml").arg(document);
        QTest::addRow("%s, absent means dark", document) << probe << QVariant() << 3;
        QTest::addRow("%s, stored light", document) << probe << QVariant(false) << 4;
        QTest::addRow("%s, stored dark", document) << probe << QVariant(true) << 3;
    }
}

void TestStartup::firstBindingSeesThePersistedTheme()
{
    QFETCH(QString, document);
    QFETCH(QVariant, stored);
    QFETCH(int, expectedExit);
    const QString file = sandbox.filePath("config/Vell/KestruneServer.conf");
    QFile::remove(file);
    if (stored.isValid()) {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue("darkTheme", stored);
    }
    QCOMPARE(runProbe(document), expectedExit);
}

void TestStartup::frameworkMessagesReachTheLogsDirectoryAcrossRuns()
{
    // The logs directory is named after the program, here the probe.
    const QString logFile = sandbox.filePath("data/startupprobe/Logs/debug.log");
    QFile::remove(logFile);
    QCOMPARE(runProbe("qrc:/probe/logsandquits.qml"), 0);
    // Plugin loading reports which folders it searches; the folder of the platform plugins
    // is searched only while the application object is being built.
    QCOMPARE(runProbe("qrc:/probe/logsandquits.qml", {"QT_DEBUG_PLUGINS=1"}), 0);
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray content = log.readAll();
    QCOMPARE(content.count("probe message\n"), 2);
    QVERIFY(content.contains("checking directory path") && content.contains("/platforms\""));
    QVERIFY(!QFile::exists(sandbox.filePath("debug.log")));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
