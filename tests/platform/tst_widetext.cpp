// Text crossing between the sound server (UTF-8) and the engines (wide strings).
#include "audio/platform/pulse/widetext.h"

#include <QTest>

class TestWideText : public QObject
{
    Q_OBJECT

private slots:
    void fromUtf8_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QByteArray("CABLE Input") << QString("CABLE Input");
        QTest::newRow("two, three and four bytes")
            << QByteArray("\xC3\x89\xE2\x99\xAA\xF0\x9F\x8E\xA7") << QString::fromUtf8("É♪🎧");
        QTest::newRow("stray continuation")
            << QByteArray("a\x80z") << QString::fromUtf8("a\uFFFDz");
        QTest::newRow("cut short at the end")
            << QByteArray("a\xE2\x99") << QString::fromUtf8("a\uFFFD");
        QTest::newRow("cut short inside")
            << QByteArray("\xE2\x99z") << QString::fromUtf8("\uFFFDz");
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << QString::fromUtf8("\uFFFD");
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QString::fromUtf8("\uFFFD");
        QTest::newRow("beyond unicode")
            << QByteArray("\xF4\x90\x80\x80") << QString::fromUtf8("\uFFFD");
        QTest::newRow("invalid lead") << QByteArray("\xFF") << QString::fromUtf8("\uFFFD");
    }

    void fromUtf8()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdWString(wideFromUtf8(utf8.toStdString())), expected);
    }

    void roundTrip()
    {
        const std::string text = "Écouteurs ♪ 🎧 speakers.monitor";
        QCOMPARE(utf8FromWide(wideFromUtf8(text)), text);
        QCOMPARE(utf8FromWide(std::wstring(1, wchar_t(0xD800))), std::string("\xEF\xBF\xBD"));
    }
};

QTEST_GUILESS_MAIN(TestWideText)
#include "tst_widetext.moc"
