#include "net/linksnapshot.h"
#include "net/linkwatcher.h"

#include <QTest>

namespace {

// A computer with a home network, a /31 point-to-point link, a point-to-point address
// whose prefix the platform did not report, and IPv6 on the home network.
LinkSnapshot homeComputer()
{
    LinkSnapshot snapshot;
    snapshot.addInterfaceAddress(QHostAddress("127.0.0.1"), 8);
    snapshot.addInterfaceAddress(QHostAddress("::1"), 128);
    snapshot.addInterfaceAddress(QHostAddress("192.168.1.10"), 24);
    snapshot.addInterfaceAddress(QHostAddress("10.20.0.0"), 31);
    snapshot.addInterfaceAddress(QHostAddress("172.16.5.5"), -1);
    snapshot.addInterfaceAddress(QHostAddress("2001:db8:1:2::10"), 64);
    return snapshot;
}

} // namespace

class TestLinkSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void onLink_data();
    void onLink();
    void destinations_data();
    void destinations();
    void watcherReadsAtMostOnceASecond();
};

void TestLinkSnapshot::onLink_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("onLink");

    QTest::newRow("phone on the home network") << "192.168.1.20" << true;
    QTest::newRow("the same through a dual-stack socket") << "::ffff:192.168.1.20" << true;
    QTest::newRow("first host of the subnet") << "192.168.1.1" << true;
    QTest::newRow("neighbouring subnet") << "192.168.2.20" << false;
    QTest::newRow("the internet") << "8.8.8.8" << false;
    QTest::newRow("loopback") << "127.0.0.1" << true;
    QTest::newRow("other loopback address") << "127.1.2.3" << true;
    QTest::newRow("ipv6 loopback") << "::1" << true;
    QTest::newRow("ipv6 link-local") << "fe80::1234" << true;
    QTest::newRow("ipv6 on-link prefix") << "2001:db8:1:2::99" << true;
    QTest::newRow("ipv6 elsewhere") << "2001:db8:1:3::99" << false;
    QTest::newRow("both ends of a /31") << "10.20.0.1" << true;
    QTest::newRow("beyond the /31") << "10.20.0.2" << false;
    QTest::newRow("address without a prefix is its own subnet") << "172.16.5.5" << true;
    QTest::newRow("its neighbour is not") << "172.16.5.6" << false;
    // Addresses no single host sends from.
    QTest::newRow("subnet broadcast") << "192.168.1.255" << false;
    QTest::newRow("limited broadcast") << "255.255.255.255" << false;
    QTest::newRow("unspecified") << "0.0.0.0" << false;
    QTest::newRow("this network") << "0.1.2.3" << false;
    QTest::newRow("ipv6 unspecified") << "::" << false;
    QTest::newRow("multicast") << "224.0.0.251" << false;
    QTest::newRow("ipv6 multicast") << "ff02::fb" << false;
    QTest::newRow("not an address") << "phone.local" << false;
}

void TestLinkSnapshot::onLink()
{
    QFETCH(QString, sender);
    QFETCH(bool, onLink);
    QCOMPARE(homeComputer().isOnLink(QHostAddress(sender)), onLink);
}

void TestLinkSnapshot::destinations_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("singleHost");

    QTest::newRow("phone") << "192.168.1.20" << true;
    QTest::newRow("host elsewhere") << "8.8.8.8" << true;
    QTest::newRow("ipv6 host") << "2001:db8::5" << true;
    QTest::newRow("subnet broadcast") << "192.168.1.255" << false;
    QTest::newRow("loopback broadcast") << "127.255.255.255" << false;
    QTest::newRow("limited broadcast") << "255.255.255.255" << false;
    QTest::newRow("multicast") << "239.255.255.250" << false;
    QTest::newRow("ipv6 multicast") << "ff02::1" << false;
    QTest::newRow("unspecified") << "0.0.0.0" << false;
    QTest::newRow("ipv6 unspecified") << "::" << false;
}

void TestLinkSnapshot::destinations()
{
    QFETCH(QString, address);
    QFETCH(bool, singleHost);
    QCOMPARE(homeComputer().isSingleHost(QHostAddress(address)), singleHost);
}

void TestLinkSnapshot::watcherReadsAtMostOnceASecond()
{
    int readings = 0;
    bool plugged = false;
    LinkWatcher watcher([&] {
        ++readings;
        LinkSnapshot snapshot;
        if (plugged)
            snapshot.addInterfaceAddress(QHostAddress("10.1.0.5"), 16);
        return snapshot;
    });
    const QHostAddress phone("10.1.2.3");

    // A flood of checks within a second: one reading.
    for (qint64 now = 0; now < 1000; ++now)
        QVERIFY(!watcher.isOnLink(phone, now));
    QCOMPARE(readings, 1);

    // A cable is plugged in: it counts with the first check a second after the reading.
    plugged = true;
    QVERIFY(!watcher.isOnLink(phone, 999));
    QVERIFY(watcher.isOnLink(phone, 1000));
    QCOMPARE(readings, 2);
    // And unplugged: the same.
    plugged = false;
    QVERIFY(watcher.isOnLink(phone, 1500));
    QVERIFY(!watcher.isOnLink(QHostAddress("10.1.255.255"), 1999)); // its subnet's broadcast
    QVERIFY(!watcher.isOnLink(phone, 2000));
    QCOMPARE(readings, 3);
}

QTEST_APPLESS_MAIN(TestLinkSnapshot)
#include "tst_linksnapshot.moc"
