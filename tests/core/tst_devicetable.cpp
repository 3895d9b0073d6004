#include "core/devicetable.h"

#include <QTest>
#include <QVariantMap>

class TestDeviceTable : public QObject
{
    Q_OBJECT

private slots:
    void unregisterAndComeBackAtTheEnd();
    void expiryAfterMoreThanTheSilence();
    void expiryReportsEveryRemovedDeviceAtOnce();
    void refreshKeepsADeviceAlive();
    void tableIsBounded();
};

static QStringList addresses(const DeviceTable &table)
{
    QStringList list;
    for (const QVariant &record : table.toVariantList())
        list.append(record.toMap().value("ip").toString());
    return list;
}

void TestDeviceTable::unregisterAndComeBackAtTheEnd()
{
    DeviceTable table;
    table.registerDevice("10.0.0.1", "a", 0);
    table.registerDevice("10.0.0.2", "b", 0);
    table.registerDevice("10.0.0.3", "c", 0);
    table.setVolume("10.0.0.1", 40);

    QVERIFY(table.unregisterDevice("10.0.0.1"));
    QVERIFY(!table.unregisterDevice("10.0.0.1"));
    QVERIFY(!table.unregisterDevice("10.0.0.9"));
    QCOMPARE(addresses(table), QStringList({"10.0.0.2", "10.0.0.3"}));

    QCOMPARE(table.registerDevice("10.0.0.1", "a again", 5), DeviceTable::Registration::Added);
    QCOMPARE(addresses(table), QStringList({"10.0.0.2", "10.0.0.3", "10.0.0.1"}));
    const QVariantMap back = table.toVariantList().last().toMap();
    QCOMPARE(back.value("volume").toInt(), 100);
    QCOMPARE(back.value("name").toString(), QString("a again"));
}

void TestDeviceTable::expiryAfterMoreThanTheSilence()
{
    DeviceTable table;
    table.registerDevice("10.0.0.1", "a", 1000);
    QVERIFY(table.expire(1000 + 6000).isEmpty()); // exactly 6000 ms of silence: stays
    QCOMPARE(table.expire(1000 + 6001), QStringList{"10.0.0.1"});
    QCOMPARE(table.size(), 0);
    QVERIFY(table.expire(100000).isEmpty());

    DeviceTable quick(300);
    quick.registerDevice("10.0.0.1", "a", 0);
    QVERIFY(quick.expire(300).isEmpty());
    QCOMPARE(quick.expire(301).size(), 1);
}

void TestDeviceTable::expiryReportsEveryRemovedDeviceAtOnce()
{
    DeviceTable table;
    table.registerDevice("10.0.0.1", "a", 0);
    table.registerDevice("10.0.0.2", "b", 5000);
    table.registerDevice("10.0.0.3", "c", 0);
    table.registerDevice("10.0.0.4", "d", 5000);

    // Visited from the last record to the first; the survivors keep their order.
    QCOMPARE(table.expire(7000), QStringList({"10.0.0.3", "10.0.0.1"}));
    QCOMPARE(addresses(table), QStringList({"10.0.0.2", "10.0.0.4"}));
}

void TestDeviceTable::refreshKeepsADeviceAlive()
{
    // Heard every 5 s and swept every 2 s: never removed.
    DeviceTable table;
    qint64 now = 0;
    for (; now <= 40000; now += 1000) {
        if (now % 5000 == 0)
            table.registerDevice("10.0.0.1", "a", now);
        if (now % 2000 == 0)
            QVERIFY(table.expire(now).isEmpty());
    }
    // Silent from 40000 on: still there at 46000 (exactly 6 s), gone at the 48000 sweep.
    QVERIFY(table.expire(46000).isEmpty());
    QCOMPARE(table.expire(48000), QStringList{"10.0.0.1"});
}

void TestDeviceTable::tableIsBounded()
{
    DeviceTable table;
    for (int i = 0; i < DeviceTable::maxDevices; ++i) {
        QCOMPARE(table.registerDevice(QString("10.0.%1.%2").arg(i / 256).arg(i % 256), "", 0),
                 DeviceTable::Registration::Added);
    }
    QCOMPARE(table.registerDevice("10.1.0.0", "late", 0), DeviceTable::Registration::Refused);
    QCOMPARE(table.size(), DeviceTable::maxDevices);
    // Known devices are still refreshed when the table is full.
    QCOMPARE(table.registerDevice("10.0.0.0", "", 5000), DeviceTable::Registration::Refreshed);

    // Room made by expiry is open to new addresses again.
    QCOMPARE(table.expire(6001).size(), DeviceTable::maxDevices - 1);
    QCOMPARE(table.registerDevice("10.1.0.0", "late", 6001), DeviceTable::Registration::Added);
}

QTEST_APPLESS_MAIN(TestDeviceTable)
#include "tst_devicetable.moc"
