#include "audio/renderconverter.h"

#include <QTest>
#include <cstring>
#include <vector>

// The pushed 16-bit stereo audio written into the buffer of whatever format a render stream
// fell back to.
class TestRenderConverter : public QObject
{
    Q_OBJECT

private slots:
    void layoutsConvertEachFrame_data();
    void layoutsConvertEachFrame();
    void onlyReadableFormatsAreWritable();
};

void TestRenderConverter::layoutsConvertEachFrame_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    // The output frame for the pushed frame (1000, -2000), as integers of the output's width
    // or, for float, scaled by 32768.
    QTest::addColumn<QList<qint64>>("expected");

    const int pcm = int(StreamFormat::Encoding::Pcm);
    const int floating = int(StreamFormat::Encoding::Float);
    QTest::newRow("16-bit stereo") << pcm << 2 << 16 << QList<qint64>{1000, -2000};
    QTest::newRow("float 5.1") << floating << 6 << 32 << QList<qint64>{1000, -2000, 0, 0, 0, 0};
    QTest::newRow("float mono") << floating << 1 << 32 << QList<qint64>{-500};
    QTest::newRow("16-bit mono") << pcm << 1 << 16 << QList<qint64>{-500};
    QTest::newRow("24-bit stereo") << pcm << 2 << 24 << QList<qint64>{1000 * 256, -2000 * 256};
    QTest::newRow("32-bit 7.1") << pcm << 8 << 32
                                << QList<qint64>{1000 * 65536, -2000 * 65536, 0, 0, 0, 0, 0, 0};
}

void TestRenderConverter::layoutsConvertEachFrame()
{
    QFETCH(int, encoding);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(QList<qint64>, expected);

    const StreamFormat format{StreamFormat::Encoding(encoding), 48000, channels, bits};
    QVERIFY(isWritableRenderFormat(format));
    // Three frames of the same audio, written into a buffer with guard bytes behind it.
    const std::vector<std::int16_t> pushed = {1000, -2000, 1000, -2000, 1000, -2000};
    const std::size_t size = 3 * std::size_t(format.blockAlign());
    std::vector<unsigned char> buffer(size + 16, 0xA5);
    writeRenderFrames(pushed.data(), 2, 3, format, buffer.data());
    QVERIFY(std::all_of(buffer.begin() + std::ptrdiff_t(size), buffer.end(),
                        [](unsigned char byte) { return byte == 0xA5; }));

    const int width = bits / 8;
    for (int frame = 0; frame < 3; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            const unsigned char *at = buffer.data() + frame * format.blockAlign() + channel * width;
            qint64 value = 0;
            if (format.encoding == StreamFormat::Encoding::Float) {
                float sample;
                std::memcpy(&sample, at, sizeof sample);
                value = qint64(sample * 32768.0f);
            } else {
                for (int i = width - 1; i >= 0; --i)
                    value = value << 8 | at[i];
                value -= (value >> (bits - 1)) << bits; // sign from the top bit
            }
            QCOMPARE(value, expected[channel]);
        }
    }
}

void TestRenderConverter::onlyReadableFormatsAreWritable()
{
    QVERIFY(!isWritableRenderFormat(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 2, 8}));
    QVERIFY(!isWritableRenderFormat(StreamFormat{StreamFormat::Encoding::Float, 48000, 2, 64}));
    QVERIFY(!isWritableRenderFormat(StreamFormat{StreamFormat::Encoding::Pcm, 48000, 0, 16}));
    QVERIFY(!isWritableRenderFormat(StreamFormat{StreamFormat::Encoding::Other, 48000, 2, 16}));
}

QTEST_GUILESS_MAIN(TestRenderConverter)
#include "tst_renderconverter.moc"
