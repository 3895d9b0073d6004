#include "core/addressform.h"
#include "core/controlprotocol.h"

#include <QTest>

using ControlProtocol::Command;

Q_DECLARE_METATYPE(Command::Kind)

class TestControlProtocol : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void quality_data();
    void quality();
    void builtMessages();
    void addressForm_data();
    void addressForm();
};

static const QString ownName = QStringLiteral("my-desk");

void TestControlProtocol::parse_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<Command::Kind>("kind");
    QTest::addColumn<QString>("name");

    using K = Command::Kind;
    QTest::newRow("hello") << QByteArray("Kestrune-Hello|Phone") << K::Register << "Phone";
    QTest::newRow("presence") << QByteArray("Kestrune-Server|Tablet") << K::Register
                              << "Tablet";
    QTest::newRow("empty name") << QByteArray("Kestrune-Hello|") << K::Register << "";
    QTest::newRow("name keeps bars") << QByteArray("Kestrune-Hello|a|b|") << K::Register
                                     << "a|b|";
    QTest::newRow("utf-8 name") << QByteArray("Kestrune-Hello|T\xc3\xa9l\xc3\xa9phone")
                                << K::Register << QString::fromUtf8("Téléphone");
    QTest::newRow("own hello") << QByteArray("Kestrune-Hello|my-desk") << K::Ignored << "";
    QTest::newRow("own presence") << QByteArray("Kestrune-Server|my-desk") << K::Ignored << "";
    QTest::newRow("own name differs in case") << QByteArray("Kestrune-Server|My-Desk")
                                              << K::Register << "My-Desk";
    QTest::newRow("lower-case hello") << QByteArray("kestrune-hello|Phone") << K::Ignored << "";
    QTest::newRow("hello without bar") << QByteArray("Kestrune-Hello") << K::Ignored << "";
    QTest::newRow("mute") << QByteArray("Kestrune-Cmd|Mute") << K::Mute << "";
    QTest::newRow("mute with trailing text") << QByteArray("Kestrune-Cmd|Muted!") << K::Mute
                                             << "";
    QTest::newRow("part of mute") << QByteArray("Kestrune-Cmd|Mut") << K::Ignored << "";
    QTest::newRow("disconnect") << QByteArray("Kestrune-Cmd|Disconnect") << K::Disconnect
                                << "";
    QTest::newRow("disconnect with trailing text")
        << QByteArray("Kestrune-Cmd|Disconnect|now") << K::Disconnect << "";
    QTest::newRow("volume echo") << QByteArray("Kestrune-Cmd|Volume|50") << K::Ignored << "";
    QTest::newRow("empty") << QByteArray() << K::Ignored << "";
    QTest::newRow("binary") << QByteArray("\x00\xff\x80", 3) << K::Ignored << "";
    // A hello whose name starts with a command still registers: the first test decides.
    QTest::newRow("hello first") << QByteArray("Kestrune-Hello|Kestrune-Cmd|Mute")
                                 << K::Register << "Kestrune-Cmd|Mute";
}

void TestControlProtocol::parse()
{
    QFETCH(QByteArray, payload);
    QFETCH(Command::Kind, kind);
    QFETCH(QString, name);

    const Command command = ControlProtocol::parse(payload, ownName);
    QCOMPARE(command.kind, kind);
    QCOMPARE(command.name, name);
}

void TestControlProtocol::quality_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("bitrate"); // 0: the command is ignored

    QTest::newRow("64") << QByteArray("64") << 64000;
    QTest::newRow("1") << QByteArray("1") << 1000;
    QTest::newRow("largest that fits") << QByteArray("2147483") << 2147483000;
    QTest::newRow("bitrate overflows") << QByteArray("2147484") << 0;
    QTest::newRow("far too large") << QByteArray("99999999") << 0;
    QTest::newRow("beyond int") << QByteArray("99999999999") << 0;
    QTest::newRow("0") << QByteArray("0") << 0;
    QTest::newRow("-5") << QByteArray("-5") << 0;
    QTest::newRow("abc") << QByteArray("abc") << 0;
    QTest::newRow("64abc") << QByteArray("64abc") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestControlProtocol::quality()
{
    QFETCH(QByteArray, field);
    QFETCH(int, bitrate);

    const Command command = ControlProtocol::parse("Kestrune-Cmd|Quality|" + field, ownName);
    QCOMPARE(command.kind, bitrate ? Command::Kind::Quality : Command::Kind::Ignored);
    QCOMPARE(command.bitrate, bitrate);
}

void TestControlProtocol::builtMessages()
{
    QCOMPARE(ControlProtocol::presence(QStringLiteral("desk")), QByteArray("Kestrune-Server|desk"));
    QCOMPARE(ControlProtocol::hello(QString::fromUtf8("Bür")),
             QByteArray("Kestrune-Hello|B\xc3\xbcr"));
    QCOMPARE(ControlProtocol::volume(150), QByteArray("Kestrune-Cmd|Volume|150"));
    QCOMPARE(ControlProtocol::volume(-3), QByteArray("Kestrune-Cmd|Volume|-3"));
    // What we send as hello or presence is what we take for our own when it comes back.
    QCOMPARE(ControlProtocol::parse(ControlProtocol::presence(ownName), ownName).kind,
             Command::Kind::Ignored);

    // A phone reads everything after the prefix, "|" included, and nothing from a datagram
    // that only starts like it.
    QString value;
    QVERIFY(ControlProtocol::field("Kestrune-Cmd|Volume|42|x", ControlProtocol::volumePrefix,
                                   value));
    QCOMPARE(value, QString("42|x"));
    QVERIFY(!ControlProtocol::field("Kestrune-Cmd|Volum", ControlProtocol::volumePrefix, value));
}

void TestControlProtocol::addressForm_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("form");

    QTest::newRow("ipv4") << "192.168.1.20" << "192.168.1.20";
    QTest::newRow("ipv4-mapped") << "::ffff:192.168.1.20" << "192.168.1.20";
    QTest::newRow("ipv6") << "fe80::1" << "fe80::1";
    QTest::newRow("ipv6 loopback") << "::1" << "::1";
}

void TestControlProtocol::addressForm()
{
    QFETCH(QString, sender);
    QFETCH(QString, form);
    QCOMPARE(::addressForm(QHostAddress(sender)), form);
}

QTEST_APPLESS_MAIN(TestControlProtocol)
#include "tst_controlprotocol.moc"
