#include "core/controlprotocol.h"
#include "support/netns.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
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
    void secondStartRaisesTheFirstAndLeavesItThePorts();

private:
    // Starts the probe with document; every probe shares the sandbox's settings, data and
    // runtime directory, as the starts of one user do.
    void startProbe(QProcess &probe, const QString &document,
                    const QStringList &extraEnvironment = {});
    int runProbe(const QString &document, const QStringList &extraEnvironment = {});
    // The probe's debug.log: the logs directory is named after the program, here the probe.
    QString logFile() const { return sandbox.filePath("data/startupprobe/Logs/debug.log"); }
    QByteArray log() const;

    QTemporaryDir sandbox;
};

void TestStartup::initTestCase()
{
    // The probe constructs the streaming core, which binds and broadcasts.
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(sandbox.isValid());
    QVERIFY(QDir(sandbox.path()).mkdir("runtime"));
    QVERIFY(QFile::setPermissions(sandbox.filePath("runtime"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestStartup::startProbe(QProcess &probe, const QString &document,
                             const QStringList &extraEnvironment)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", sandbox.filePath("config"));
    environment.insert("XDG_DATA_HOME", sandbox.filePath("data"));
    environment.insert("XDG_RUNTIME_DIR", sandbox.filePath("runtime"));
    for (const QString &variable : extraEnvironment)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    probe.setProcessEnvironment(environment);
    probe.setWorkingDirectory(sandbox.path());
    probe.start(STARTUP_PROBE, {document});
}

QByteArray TestStartup::log() const
{
    QFile file(logFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int TestStartup::runProbe(const QString &document, const QStringList &extraEnvironment)
{
    QProcess probe;
    startProbe(probe, document, extraEnvironment);
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
                                          "PeerText 1.0 ui/PeerText.qml\r\n"
                                          "singleton Theme 1.0 ui/Theme.qml\r\n"
                                          "depends QtQuick\r\n"
                                          "\r\n"));
}

void TestStartup::documentsAndLogoAreCompiledIn()
{
    for (const char *document :
         {"main", "ServerTab", "PlayerTab", "SettingsTab", "Theme", "DeviceComboBox", "PeerText"})
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
    QFile::remove(logFile());
    QCOMPARE(runProbe("qrc:/probe/logsandquits.qml"), 0);
    // Plugin loading reports which folders it searches; the folder of the platform plugins
    // is searched only while the application object is being built.
    QCOMPARE(runProbe("qrc:/probe/logsandquits.qml", {"QT_DEBUG_PLUGINS=1"}), 0);
    const QByteArray content = log();
    QCOMPARE(content.count("probe message\n"), 2);
    QVERIFY(content.contains("checking directory path") && content.contains("/platforms\""));
    QVERIFY(!QFile::exists(sandbox.filePath("debug.log")));
}

void TestStartup::secondStartRaisesTheFirstAndLeavesItThePorts()
{
    QFile::remove(logFile());
    QProcess first;
    startProbe(first, "qrc:/probe/window.qml");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("ready\n"), 30000);

    // A document that cannot load would make it exit with -1: it must never get that far.
    QProcess second;
    startProbe(second, "qrc:/probe/broken.qml");
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(log().contains("restored\n"));

    // The first still owns the control port: a phone's hello reaches it.
    QUdpSocket phone;
    phone.writeDatagram(QByteArray(ControlProtocol::helloPrefix) + "Pixel 7",
                        QHostAddress::LocalHost, ControlProtocol::controlPort);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("registered 1\n"), 10000);

    // Killed, it leaves its lock and socket behind; the next start runs all the same.
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(runProbe("qrc:/probe/broken.qml"), 255);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
