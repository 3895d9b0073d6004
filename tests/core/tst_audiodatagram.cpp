#include "core/audiodatagram.h"

#include <QTest>

class TestAudioDatagram : public QObject
{
    Q_OBJECT

private slots:
    void everyFieldAtItsOffsetLittleEndian();
    void sequenceNumberUsesAllThirtyTwoBits();
    void bufferIsReusedWithoutStaleBytes();
    void packetsTheLengthFieldCannotCarryAreRefused();
    void receivedDatagramYieldsItsPacket_data();
    void receivedDatagramYieldsItsPacket();
};

namespace {

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray result;
    for (int byte : list)
        result.append(char(byte));
    return result;
}

// A header announcing `length` payload bytes, followed by `present` bytes.
QByteArray datagramAnnouncing(int length, int present)
{
    QByteArray datagram(AudioDatagram::headerSize, '\0');
    datagram[15] = char(length & 0xFF);
    datagram[16] = char(length >> 8);
    for (int i = 0; i < present; ++i)
        datagram.append(char('a' + i % 26));
    return datagram;
}

} // namespace

void TestAudioDatagram::everyFieldAtItsOffsetLittleEndian()
{
    QByteArray datagram;
    QVERIFY(AudioDatagram::build(datagram, 0x04030201u, 0x0C0B0A0908070605, 48000, "xyz"));
    QCOMPARE(datagram, bytes({0x01, 0x02, 0x03, 0x04,                         // sequence
                              0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, // timestamp
                              0x01,                                           // marker
                              0x80, 0xBB,                                     // 48000
                              0x03, 0x00,                                     // N
                              'x',  'y',  'z'}));

    // A wall-clock time (milliseconds times a million), and a rate whose low bits are kept.
    QVERIFY(AudioDatagram::build(datagram, 0, 1'700'000'000'123LL * 1'000'000, 96000, "p"));
    QCOMPARE(datagram.mid(4, 8), bytes({0xC0, 0xD4, 0x7E, 0x3D, 0xFE, 0x9C, 0x97, 0x17}));
    QCOMPARE(datagram.mid(13, 2), bytes({0x00, 0x77}));
    // The timestamp field is signed: times before 1970 keep their sign bits.
    QVERIFY(AudioDatagram::build(datagram, 0, -2, 48000, "p"));
    QCOMPARE(datagram.mid(4, 8), bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

void TestAudioDatagram::sequenceNumberUsesAllThirtyTwoBits()
{
    QByteArray datagram;
    std::uint32_t sequenceNumber = 0xFFFFFFFFu;
    QVERIFY(AudioDatagram::build(datagram, sequenceNumber++, 0, 48000, "p"));
    QCOMPARE(datagram.left(4), bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    QVERIFY(AudioDatagram::build(datagram, sequenceNumber++, 0, 48000, "p"));
    QCOMPARE(datagram.left(4), bytes({0x00, 0x00, 0x00, 0x00}));
    QCOMPARE(sequenceNumber, 1u);
    // And reads back whole.
    QVERIFY(AudioDatagram::build(datagram, 0x89ABCDEFu, 0, 48000, "p"));
    QCOMPARE(AudioDatagram::sequenceNumber(datagram), 0x89ABCDEFu);
    QCOMPARE(AudioDatagram::sequenceNumber(datagram.left(AudioDatagram::headerSize - 1)), 0u);
}

void TestAudioDatagram::bufferIsReusedWithoutStaleBytes()
{
    QByteArray datagram;
    datagram.reserve(AudioDatagram::headerSize + 4000);
    const char *storage = datagram.constData();

    QVERIFY(AudioDatagram::build(datagram, 1, 0, 48000, QByteArray(4000, 'L')));
    QCOMPARE(datagram.size(), AudioDatagram::headerSize + 4000);
    QVERIFY(AudioDatagram::build(datagram, 2, 0, 48000, "short"));
    QCOMPARE(datagram.size(), AudioDatagram::headerSize + 5);
    QCOMPARE(datagram.mid(AudioDatagram::headerSize), QByteArray("short"));
    QCOMPARE(datagram.constData(), storage);
}

void TestAudioDatagram::packetsTheLengthFieldCannotCarryAreRefused()
{
    QByteArray datagram;
    QVERIFY(!AudioDatagram::build(datagram, 0, 0, 48000, QByteArray()));
    QVERIFY(datagram.isEmpty());
    QVERIFY(!AudioDatagram::build(datagram, 0, 0, 48000, QByteArray(65536, 'x')));
    QVERIFY(datagram.isEmpty());

    QVERIFY(AudioDatagram::build(datagram, 0, 0, 48000, QByteArray(65535, 'x')));
    QCOMPARE(datagram.mid(15, 2), bytes({0xFF, 0xFF}));
    QCOMPARE(AudioDatagram::payload(datagram).size(), 65535);
}

void TestAudioDatagram::receivedDatagramYieldsItsPacket_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("packet"); // empty: dropped

    QByteArray built;
    AudioDatagram::build(built, 7, 123, 48000, "opus packet");
    QTest::newRow("as built") << built << QByteArray("opus packet");
    QTest::newRow("trailing bytes ignored") << built + "12345" << QByteArray("opus packet");
    QTest::newRow("length exactly present") << datagramAnnouncing(3, 3) << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("16 bytes") << built.left(16) << QByteArray();
    QTest::newRow("header only") << datagramAnnouncing(0, 0) << QByteArray();
    QTest::newRow("no payload announced") << datagramAnnouncing(0, 5) << QByteArray();
    QTest::newRow("header announcing 1") << datagramAnnouncing(1, 0) << QByteArray();
    QTest::newRow("200 announced, 150 present") << datagramAnnouncing(200, 150) << QByteArray();
    const QByteArray large = datagramAnnouncing(0x8001, 0x8001); // length read unsigned
    QTest::newRow("32769 announced and present") << large << large.mid(AudioDatagram::headerSize);
    QTest::newRow("32769 announced, one short") << large.chopped(1) << QByteArray();
}

void TestAudioDatagram::receivedDatagramYieldsItsPacket()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, packet);
    const QByteArrayView payload = AudioDatagram::payload(datagram);
    QCOMPARE(payload.toByteArray(), packet);
    // The packet is read where it lies, not copied out.
    if (!packet.isEmpty())
        QCOMPARE(payload.data(), datagram.constData() + AudioDatagram::headerSize);
}

QTEST_APPLESS_MAIN(TestAudioDatagram)
#include "tst_audiodatagram.moc"
