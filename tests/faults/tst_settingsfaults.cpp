// What a user's configuration directory can hold after a crash, a hand edit, a botched
// restore or a change of owner: the options come up as defaults, the program never rewrites
// a settings file it could not read until the user changes a setting, and a start-with-login
// switch that cannot be stored costs nothing but the switch.
#include "app/appconfig.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

namespace {

enum class Damage
{
    Contents,
    Directory,
    SymlinkLoop,
    NoPermission
};

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void damagedSettingsReadAsDefaultsAndStayUntouched_data();
    void damagedSettingsReadAsDefaultsAndStayUntouched();
    void unwritableAutostartCostsOnlyTheSwitch_data();
    void unwritableAutostartCostsOnlyTheSwitch();

private:
    QString settingsFile() const { return home->filePath("config/Vell/KestruneServer.conf"); }
    // The settings file, or what stands in its place, as bytes; empty when it cannot be read.
    QByteArray settingsBytes() const;

    std::unique_ptr<QTemporaryDir> home;
};

void TestSettingsFaults::init()
{
    // A new directory for every case: the framework keeps what it read of a settings file
    // for the life of the process, keyed by its path.
    home = std::make_unique<QTemporaryDir>();
    QVERIFY(home->isValid());
    QDir().mkpath(home->filePath("config/Vell"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home->filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home->filePath("data")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home->filePath("config"));
}

QByteArray TestSettingsFaults::settingsBytes() const
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestSettingsFaults::damagedSettingsReadAsDefaultsAndStayUntouched_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("writable"); // whether a changed setting can be stored afterwards

    QTest::newRow("cut off in a line")
        << Damage::Contents << QByteArray("[General]\ndarkThe") << true;
    QTest::newRow("zeroes from a crash") << Damage::Contents << QByteArray(8192, '\0') << true;
    // A serialised value whose type and length say anything.
    QTest::newRow("broken serialised values")
        << Damage::Contents
        << QByteArray("[General]\ndarkTheme=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff\\xff\\xff\\xff)\n"
                      "continuousCapture=@ByteArray(\nerrorReporting=@Invalid(\n"
                      "enableEventSync=@Variant(\\0\\0\\0\\n\\0\\xff\\xff\\xff\\xf0)\n")
        << true;
    QByteArray huge;
    for (int i = 0; i < 4 * 1024 * 1024; ++i)
        huge += char("[]=\\\"\n%a"[i % 9]);
    QTest::newRow("4 MB of brackets and escapes") << Damage::Contents << huge << true;
    QTest::newRow("a directory in its place") << Damage::Directory << QByteArray() << false;
    QTest::newRow("a link to itself") << Damage::SymlinkLoop << QByteArray() << true;
    QTest::newRow("no read permission")
        << Damage::NoPermission << QByteArray("[General]\n") << true;
}

void TestSettingsFaults::damagedSettingsReadAsDefaultsAndStayUntouched()
{
    QFETCH(Damage, damage);
    QFETCH(QByteArray, contents);
    QFETCH(bool, writable);
    switch (damage) {
    case Damage::Contents:
    case Damage::NoPermission: {
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        if (damage == Damage::NoPermission) {
            if (geteuid() == 0)
                QSKIP("permissions do not stop root");
            QVERIFY(file.setPermissions({}));
        }
        break;
    }
    case Damage::Directory:
        QVERIFY(QDir().mkpath(settingsFile()));
        break;
    case Damage::SymlinkLoop:
        QVERIFY(QFile::link(settingsFile(), settingsFile()));
        break;
    }
    const QByteArray before = settingsBytes();

    {
        AppConfig config;
        QCOMPARE(config.minimizeToTray(), false);
        QCOMPARE(config.launchOnStartup(), false);
        QVERIFY(!config.logsDirectory().isEmpty());
    }
    QCOMPARE(settingsBytes(), before);
    QCOMPARE(QFileInfo(settingsFile()).isDir(), damage == Damage::Directory);
    QCOMPARE(QFileInfo(settingsFile()).isSymLink(), damage == Damage::SymlinkLoop);

    // The user's first change is what replaces the damaged file, where it can; where it
    // cannot, what stands there stays as it was.
    {
        AppConfig config;
        config.setMinimizeToTray(true);
        QCOMPARE(config.minimizeToTray(), true);
    }
    QCOMPARE(settingsBytes().contains("minimizeToTray=true"), writable);
    QCOMPARE(QFileInfo(settingsFile()).isDir(), !writable);
}

void TestSettingsFaults::unwritableAutostartCostsOnlyTheSwitch_data()
{
    QTest::addColumn<QString>("blocker"); // what stands where the entry would go

    QTest::newRow("autostart is a file") << "config/autostart";
    QTest::newRow("the entry is a directory") << "config/autostart/KestruneServer.desktop";
}

void TestSettingsFaults::unwritableAutostartCostsOnlyTheSwitch()
{
    QFETCH(QString, blocker);
    const QString path = home->filePath(blocker);
    if (blocker.endsWith(".desktop")) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    {
        AppConfig config;
        QCOMPARE(config.launchOnStartup(), false);
        config.setLaunchOnStartup(true);
        // The session keeps what the user chose; only the next start finds it missing.
        QCOMPARE(config.launchOnStartup(), true);
        config.setDarkTheme(false);
        config.setLaunchOnStartup(false);
        QCOMPARE(config.launchOnStartup(), false);
    }
    QCOMPARE(AppConfig().launchOnStartup(), false);
    QVERIFY(settingsBytes().contains("darkTheme=false")); // the options are stored as usual
}

QTEST_GUILESS_MAIN(TestSettingsFaults)
#include "tst_settingsfaults.moc"
