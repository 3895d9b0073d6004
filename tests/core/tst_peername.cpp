#include "core/peername.h"

#include <QTest>

class TestPeerName : public QObject
{
    Q_OBJECT

private slots:
    void sanitized_data();
    void sanitized();
    void longNamesKeepWholeCharacters();
};

void TestPeerName::sanitized_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("kept");

    const QString r = QString(QChar(QChar::ReplacementCharacter));
    QTest::newRow("plain") << "Pixel 7"
                           << "Pixel 7";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("markup stays literal text") << "<b>Bold</b><img src=x>"
                                               << "<b>Bold</b><img src=x>";
    QTest::newRow("line breaks and tab") << "a\nb\r\tc"
                                         << "a" + r + "b" + r + r + "c";
    QTest::newRow("nul, escape, delete")
        << QString::fromUtf8("a\0b\x1b[31m\x7f", 9) << "a" + r + "b" + r + "[31m" + r;
    QTest::newRow("c1 control") << QString::fromUtf8("x\xc2\x85y") << "x" + r + "y";
    QTest::newRow("line and paragraph separators")
        << QString::fromUtf8("a\u2028b\u2029c") << "a" + r + "b" + r + "c";
    QTest::newRow("bidi overrides and embeddings")
        << QString::fromUtf8("\u202Aa\u202Bb\u202Cc\u202Dd\u202Ee")
        << r + "a" + r + "b" + r + "c" + r + "d" + r + "e";
    QTest::newRow("bidi isolates")
        << QString::fromUtf8("\u2066a\u2067b\u2068c\u2069") << r + "a" + r + "b" + r + "c" + r;
    // Marks that only steer neighbouring text are not overrides.
    QTest::newRow("marks and accents stay")
        << QString::fromUtf8("\u200Ee\u0301 \u05D0") << QString::fromUtf8("\u200Ee\u0301 \u05D0");
    QTest::newRow("only controls") << "\n\n" << r + r;
}

void TestPeerName::sanitized()
{
    QFETCH(QString, received);
    QFETCH(QString, kept);
    QCOMPARE(PeerName::sanitized(received), kept);
}

void TestPeerName::longNamesKeepWholeCharacters()
{
    QCOMPARE(PeerName::sanitized(QString(60000, 'x')), QString(PeerName::maxLength, 'x'));
    QCOMPARE(PeerName::sanitized(QString(64, 'x')), QString(64, 'x'));

    // 63 letters then emoji: the 64th character is a whole surrogate pair, the 65th is cut.
    const QString emoji = QString::fromUtf8("\U0001F600");
    const QString name = QString(63, 'a') + emoji + emoji;
    QCOMPARE(PeerName::sanitized(name), QString(63, 'a') + emoji);
    // Counted in characters, not UTF-16 units.
    QString emojis;
    for (int i = 0; i < 70; ++i)
        emojis += emoji;
    QCOMPARE(PeerName::sanitized(emojis).size(), 2 * PeerName::maxLength);
    // A lone surrogate is no character.
    QCOMPARE(PeerName::sanitized(QString(QChar(0xD800)) + "x"),
             QString(QChar(QChar::ReplacementCharacter)) + "x");
}

QTEST_APPLESS_MAIN(TestPeerName)
#include "tst_peername.moc"
