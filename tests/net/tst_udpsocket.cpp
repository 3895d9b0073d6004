#include "net/udpsocket.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <thread>

namespace {

// A phone stand-in: a plain socket on a loopback address of its own that keeps every
// datagram it receives.
class Peer
{
public:
    Peer(const char *address, quint16 port) : address(QString::fromLatin1(address)), port(port)
    {
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams())
                received.append(socket.receiveDatagram(-1).data());
        });
        socket.setProxy(QNetworkProxy::NoProxy);
        bound = socket.bind(QHostAddress(this->address), port,
                            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }

    const QString address;
    const quint16 port;
    bool bound = false;
    QUdpSocket socket;
    QList<QByteArray> received;
};

struct Received
{
    QByteArray payload;
    QHostAddress sender;
    quint16 senderPort = 0;
};

// What a UdpSocket hands its callback, in order.
class Recorder
{
public:
    explicit Recorder(UdpSocket &socket)
    {
        socket.setReceiveCallback(
            [this](const QByteArray &payload, const QHostAddress &sender, quint16 senderPort) {
                received.append({payload, sender, senderPort});
            });
    }
    QList<Received> received;
};

std::vector<Target> targetsOf(std::initializer_list<std::pair<const char *, quint16>> list)
{
    std::vector<Target> targets;
    for (const auto &[address, port] : list)
        targets.push_back({QHostAddress(QString::fromLatin1(address)), port});
    return targets;
}

constexpr quint16 endpointPort = 40000;

} // namespace

class TestUdpSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void targetListKeepsEachAddressAndPortOnce();
    void removeTargetTakesEveryPortOfTheAddress();
    void duplicateTargetGetsOneDatagramPerSend();
    void unparsableAddressIsOneTargetAndDoesNotStopTheOthers();
    void emptyPayloadIsAZeroLengthDatagram();
    void datagramsArrivingTogetherAreDeliveredInOneActivation();
    void largestDatagramArrivesWhole();
    void callbackMayChangeTargetsAndSend();
    void sendToLeavesTheTargetsAlone();
    void neverBoundSocketSendsFromAnotherThread();
    void bindKeepsTheFirstBindingAndStaysClosedOnFailure();
    void floodIsReadInBoundedTurns();
    void sendsOverlapTargetChangesAndReads();
};

void TestUdpSocket::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
}

void TestUdpSocket::init()
{
    // Qt complains when a socket is driven from a thread it does not belong to; nothing here
    // may make it complain.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestUdpSocket::targetListKeepsEachAddressAndPortOnce()
{
    UdpSocket socket;
    socket.addTarget("127.0.0.2", 8080);
    socket.addTarget("127.0.0.2", 8080);
    socket.addTarget("127.0.0.2", 8081);
    socket.addTarget("::1", 8080);
    socket.addTarget("0:0:0:0:0:0:0:1", 8080); // the same address in another spelling
    QCOMPARE(socket.currentTargets(),
             targetsOf({{"127.0.0.2", 8080}, {"127.0.0.2", 8081}, {"::1", 8080}}));

    socket.clearTargets();
    QVERIFY(socket.currentTargets().empty());
    QCOMPARE(socket.sendToTargets("x"), qint64(-1));
}

void TestUdpSocket::removeTargetTakesEveryPortOfTheAddress()
{
    UdpSocket socket;
    socket.addTarget("127.0.0.2", 8080);
    socket.addTarget("127.0.0.3", 8080);
    socket.addTarget("127.0.0.2", 8081);
    socket.addTarget("127.0.0.4", 8082);

    socket.removeTarget("127.0.0.9");
    QCOMPARE(socket.currentTargets().size(), std::size_t(4));

    socket.removeTarget("127.0.0.2");
    QCOMPARE(socket.currentTargets(), targetsOf({{"127.0.0.3", 8080}, {"127.0.0.4", 8082}}));
}

void TestUdpSocket::duplicateTargetGetsOneDatagramPerSend()
{
    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    UdpSocket socket;
    socket.addTarget(peer.address, peer.port);
    socket.addTarget(peer.address, peer.port);

    QCOMPARE(socket.sendToTargets("frame"), qint64(5));
    // Datagrams from one socket to one receiver over loopback keep their order, so once the
    // closing one is in, anything the send wrote is in too.
    socket.sendTo("end", peer.address, peer.port);
    QTRY_VERIFY(peer.received.contains("end"));
    QCOMPARE(peer.received, QList<QByteArray>({"frame", "end"}));
}

void TestUdpSocket::unparsableAddressIsOneTargetAndDoesNotStopTheOthers()
{
    Peer first("127.0.0.2", 41000);
    Peer second("127.0.0.3", 41000);
    QVERIFY(first.bound && second.bound);
    // Whatever the null address would be taken for on this host, nothing may arrive here.
    UdpSocket thisHost;
    QVERIFY(thisHost.bind(41001));
    Recorder recorder(thisHost);

    UdpSocket socket;
    socket.addTarget(first.address, first.port);
    socket.addTarget("phone.local", 41001);
    socket.addTarget("", 41001); // null as well, so the same target
    socket.addTarget(second.address, second.port);
    QCOMPARE(socket.currentTargets().size(), std::size_t(3));
    QVERIFY(socket.currentTargets()[1].address.isNull());

    QCOMPARE(socket.sendToTargets("one"), qint64(3));
    QTRY_COMPARE(first.received, QList<QByteArray>({"one"}));
    QTRY_COMPARE(second.received, QList<QByteArray>({"one"}));

    // With the null address last, the caller learns of its failure, yet the others got it.
    socket.removeTarget("");
    socket.addTarget("not an address", 41001);
    QCOMPARE(socket.sendToTargets("two"), qint64(-1));
    QTRY_COMPARE(first.received, QList<QByteArray>({"one", "two"}));
    QTRY_COMPARE(second.received, QList<QByteArray>({"one", "two"}));

    socket.sendTo("end", "127.0.0.1", 41001);
    QTRY_COMPARE(recorder.received.size(), 1);
    QCOMPARE(recorder.received[0].payload, QByteArray("end"));
}

void TestUdpSocket::emptyPayloadIsAZeroLengthDatagram()
{
    UdpSocket receiver;
    QVERIFY(receiver.bind(endpointPort));
    Recorder recorder(receiver);
    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);

    UdpSocket socket;
    socket.addTarget("127.0.0.1", endpointPort);
    socket.addTarget(peer.address, peer.port);
    QCOMPARE(socket.sendToTargets(QByteArray()), qint64(0));

    QTRY_COMPARE(recorder.received.size(), 1);
    QVERIFY(recorder.received[0].payload.isEmpty());
    QVERIFY(recorder.received[0].senderPort != 0);
    QTRY_COMPARE(peer.received.size(), 1);
    QVERIFY(peer.received[0].isEmpty());
}

void TestUdpSocket::datagramsArrivingTogetherAreDeliveredInOneActivation()
{
    UdpSocket receiver;
    QVERIFY(receiver.bind(endpointPort));
    QList<QByteArray> delivered;
    int deliveredWhenLoopReturned = -1;
    receiver.setReceiveCallback([&](const QByteArray &payload, const QHostAddress &, quint16) {
        if (delivered.isEmpty()) {
            // Runs once the activation that delivers this datagram is over.
            QMetaObject::invokeMethod(
                &receiver, [&] { deliveredWhenLoopReturned = int(delivered.size()); },
                Qt::QueuedConnection);
        }
        delivered.append(payload);
    });

    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    for (const char *payload : {"a", "b", "c"})
        peer.socket.writeDatagram(payload, QHostAddress::LocalHost, endpointPort);

    QTRY_COMPARE(deliveredWhenLoopReturned, 3);
    QCOMPARE(delivered, QList<QByteArray>({"a", "b", "c"}));
}

void TestUdpSocket::largestDatagramArrivesWhole()
{
    UdpSocket receiver;
    QVERIFY(receiver.bind(endpointPort));
    Recorder recorder(receiver);

    QByteArray payload(65507, Qt::Uninitialized); // the most one IPv4 datagram carries
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7 + i / 256);
    UdpSocket socket;
    socket.addTarget("127.0.0.1", endpointPort);
    QCOMPARE(socket.sendToTargets(payload), qint64(payload.size()));

    QTRY_COMPARE(recorder.received.size(), 1);
    QCOMPARE(recorder.received[0].payload.size(), payload.size());
    QVERIFY(recorder.received[0].payload == payload);
}

void TestUdpSocket::callbackMayChangeTargetsAndSend()
{
    UdpSocket server;
    QVERIFY(server.bind(endpointPort));
    int calls = 0;
    server.setReceiveCallback(
        [&](const QByteArray &payload, const QHostAddress &sender, quint16 senderPort) {
            ++calls;
            server.addTarget(sender.toString(), senderPort);
            server.sendToTargets("welcome " + payload);
            server.removeTarget(sender.toString());
        });

    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    peer.socket.writeDatagram("hello", QHostAddress::LocalHost, endpointPort);
    QTRY_COMPARE(peer.received, QList<QByteArray>({"welcome hello"}));
    QCOMPARE(calls, 1);
    QVERIFY(server.currentTargets().empty());
}

void TestUdpSocket::sendToLeavesTheTargetsAlone()
{
    Peer target("127.0.0.2", 41000);
    Peer other("127.0.0.3", 41000);
    QVERIFY(target.bound && other.bound);
    UdpSocket socket;
    socket.addTarget(target.address, target.port);

    QCOMPARE(socket.sendTo("hello", other.address, other.port), qint64(5));
    QCOMPARE(socket.sendTo("hello", "nowhere", other.port), qint64(-1));
    QCOMPARE(socket.sendToTargets("stream"), qint64(6));
    QTRY_COMPARE(other.received, QList<QByteArray>({"hello"}));
    QTRY_COMPARE(target.received, QList<QByteArray>({"stream"}));
    QCOMPARE(socket.currentTargets(), targetsOf({{"127.0.0.2", 41000}}));
}

void TestUdpSocket::neverBoundSocketSendsFromAnotherThread()
{
    // The stream socket is never bound, lives on the GUI thread and sends from the capture
    // thread. Neither the first write nor any later one may set the socket up there.
    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    UdpSocket socket;
    socket.addTarget(peer.address, peer.port);

    std::thread capture([&] {
        for (int i = 0; i < 5; ++i)
            socket.sendToTargets(QByteArray::number(i));
    });
    capture.join();
    QTRY_COMPARE(peer.received, QList<QByteArray>({"0", "1", "2", "3", "4"}));

    // After an abort the same holds.
    socket.abort();
    std::thread again([&] { socket.sendToTargets("5"); });
    again.join();
    QTRY_COMPARE(peer.received.size(), 6);
}

void TestUdpSocket::bindKeepsTheFirstBindingAndStaysClosedOnFailure()
{
    UdpSocket socket;
    QVERIFY(socket.bind(endpointPort));
    QVERIFY(!socket.bind(endpointPort + 1));
    QVERIFY(!socket.portInUse());
    Recorder recorder(socket);
    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    peer.socket.writeDatagram("still here", QHostAddress::LocalHost, endpointPort);
    QTRY_COMPARE(recorder.received.size(), 1);

    // A port somebody else holds without sharing it: bind fails and says why, and the
    // socket stays closed. No port of the platform's choosing hears anything, and a send,
    // even from another thread, goes nowhere.
    QUdpSocket holder;
    holder.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(holder.bind(QHostAddress::Any, endpointPort + 2, QUdpSocket::DontShareAddress));
    UdpSocket late;
    Recorder lateRecorder(late);
    QVERIFY(!late.bind(endpointPort + 2));
    QVERIFY(late.portInUse());
    late.addTarget(peer.address, peer.port);
    std::thread capture([&] { QCOMPARE(late.sendToTargets("not sent"), qint64(-1)); });
    capture.join();
    peer.socket.writeDatagram("to the holder", QHostAddress::LocalHost, endpointPort + 2);
    QTRY_VERIFY(holder.hasPendingDatagrams());
    QTest::qWait(50);
    QVERIFY(peer.received.isEmpty());
    QVERIFY(lateRecorder.received.isEmpty());

    // Once the port is free, binding again takes it.
    holder.close();
    QVERIFY(late.bind(endpointPort + 2));
    QVERIFY(!late.portInUse());
    QCOMPARE(late.sendToTargets("sent"), qint64(4));
    QTRY_COMPARE(peer.received, QList<QByteArray>({"sent"}));
}

void TestUdpSocket::floodIsReadInBoundedTurns()
{
    UdpSocket receiver;
    QVERIFY(receiver.bind(endpointPort));
    constexpr int sent = 200; // what the kernel keeps for a socket of the default size
    int delivered = 0;
    int largestTurn = 0;
    int turns = 0;
    int inThisTurn = 0;
    // A zero-length timer runs once per turn of the event loop: it closes the turn.
    QTimer turnEnd;
    turnEnd.setInterval(0);
    QObject::connect(&turnEnd, &QTimer::timeout, [&] {
        if (inThisTurn > 0)
            ++turns;
        largestTurn = std::max(largestTurn, inThisTurn);
        inThisTurn = 0;
    });
    receiver.setReceiveCallback([&](const QByteArray &, const QHostAddress &, quint16) {
        ++delivered;
        ++inThisTurn;
    });

    // All of them queued in the kernel before the receiver gets a turn.
    Peer peer("127.0.0.2", 41000);
    QVERIFY(peer.bound);
    for (int i = 0; i < sent; ++i)
        QCOMPARE(peer.socket.writeDatagram("x", QHostAddress::LocalHost, endpointPort), 1);
    turnEnd.start();
    QTRY_COMPARE(delivered, sent);
    QCOMPARE(largestTurn, UdpSocket::maxDatagramsPerActivation);
    QVERIFY(turns >= sent / UdpSocket::maxDatagramsPerActivation);
}

void TestUdpSocket::sendsOverlapTargetChangesAndReads()
{
    // One thread streams as fast as a busy capture thread could while this thread registers
    // and drops phones, says hello, and reads what the socket is sent.
    Peer steady("127.0.0.2", 41000);
    QVERIFY(steady.bound);
    UdpSocket socket;
    QVERIFY(socket.bind(endpointPort));
    std::atomic<int> ownDatagrams{0};
    socket.setReceiveCallback(
        [&](const QByteArray &, const QHostAddress &, quint16) { ++ownDatagrams; });
    socket.addTarget(steady.address, steady.port);
    socket.addTarget("127.0.0.1", endpointPort);

    std::atomic<bool> stop{false};
    std::atomic<int> sends{0};
    std::thread capture([&] {
        const QByteArray frame(177, 'f');
        while (!stop) {
            socket.sendToTargets(frame);
            ++sends;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });

    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; elapsed.elapsed() < 1500; ++round) {
        const QString phone = QStringLiteral("127.0.1.%1").arg(round % 200 + 1);
        socket.addTarget(phone, 9);
        socket.addTarget(phone, 10);
        if (round % 3 != 0)
            socket.removeTarget(phone);
        socket.sendTo("hello", steady.address, steady.port);
        QCoreApplication::processEvents();
    }
    stop = true;
    capture.join();

    QVERIFY(sends > 100);
    QTRY_VERIFY(ownDatagrams > 100);
    QTRY_VERIFY(steady.received.size() > 100);
    // Phones of rounds divisible by 3 stayed, with both ports; no entry is duplicated.
    const std::vector<Target> targets = socket.currentTargets();
    for (std::size_t i = 0; i < targets.size(); ++i)
        for (std::size_t j = i + 1; j < targets.size(); ++j)
            QVERIFY(!(targets[i] == targets[j]));
    QCOMPARE(targets[0], (Target{QHostAddress("127.0.0.2"), 41000}));
    QCOMPARE(targets.size() % 2, std::size_t(0));
}

QTEST_GUILESS_MAIN(TestUdpSocket)
#include "tst_udpsocket.moc"
