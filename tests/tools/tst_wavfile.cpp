#include "wavreader.h"
#include "wavwriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <vector>

class TestWavFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(directory.isValid()); }
    void writtenFileReadsBackWithItsSizes();
    void monoIsReadOnBothChannels();
    void chunksBeforeTheDataAreSkippedWithTheirPadding();
    void unfinishedFileIsReadToItsEnd();
    void otherAudioIsRefused_data();
    void otherAudioIsRefused();

private:
    QString path(const char *name) const { return directory.filePath(name); }
    // A WAV file of format fields and data, with the given chunks before the data.
    void writeFile(const QString &path, std::uint16_t tag, std::uint16_t channels, int bits,
                   const QByteArray &data, const QByteArray &extraChunks = {},
                   bool sizeKnown = true);

    QTemporaryDir directory;
};

void TestWavFile::writeFile(const QString &path, std::uint16_t tag, std::uint16_t channels,
                            int bits, const QByteArray &data, const QByteArray &extraChunks,
                            bool sizeKnown)
{
    const auto le16 = [](int v) {
        QByteArray b(2, 0);
        qToLittleEndian(static_cast<std::uint16_t>(v), b.data());
        return b;
    };
    const auto le32 = [](qint64 v) {
        QByteArray b(4, 0);
        qToLittleEndian(static_cast<std::uint32_t>(v), b.data());
        return b;
    };
    const int blockAlign = channels * bits / 8;
    QByteArray body = "WAVE";
    body += "fmt " + le32(16) + le16(tag) + le16(channels) + le32(48000) +
            le32(48000 * blockAlign) + le16(blockAlign) + le16(bits);
    body += extraChunks;
    body += "data" + le32(sizeKnown ? data.size() : 0) + data;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF" + le32(body.size()) + body);
}

void TestWavFile::writtenFileReadsBackWithItsSizes()
{
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 960; ++i)
        samples.push_back(static_cast<std::int16_t>(i * 67 - 32000));
    samples.push_back(-32768);
    samples.push_back(32767);

    WavWriter writer(48000, 2);
    QVERIFY(writer.open(path("round.wav")));
    QVERIFY(writer.write(samples.data(), 500));
    QVERIFY(writer.write(samples.data() + 500, samples.size() - 500));
    QCOMPARE(writer.framesWritten(), 481u);
    QVERIFY(writer.finish());

    QFile file(path("round.wav"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 44 + 962 * 2);
    QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 4), 36u + 962 * 2);
    QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 40), 962u * 2);
    QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 28), 48000u * 4);

    WavReader reader;
    QVERIFY2(reader.open(path("round.wav")), qPrintable(reader.errorString()));
    QCOMPARE(reader.sampleRate(), 48000);
    QCOMPARE(reader.channels(), 2);
    std::vector<std::int16_t> read(2000);
    QCOMPARE(reader.readStereo(read.data(), 1000), 481);
    read.resize(962);
    QCOMPARE(read, samples);
    QCOMPARE(reader.readStereo(read.data(), 1), 0);
}

void TestWavFile::monoIsReadOnBothChannels()
{
    QByteArray data(6, 0);
    qToLittleEndian<std::int16_t>(100, data.data());
    qToLittleEndian<std::int16_t>(-200, data.data() + 2);
    qToLittleEndian<std::int16_t>(300, data.data() + 4);
    writeFile(path("mono.wav"), 1, 1, 16, data);

    WavReader reader;
    QVERIFY2(reader.open(path("mono.wav")), qPrintable(reader.errorString()));
    std::int16_t read[6] = {};
    QCOMPARE(reader.readStereo(read, 2), 2);
    QCOMPARE(reader.readStereo(read + 4, 2), 1);
    QCOMPARE(std::vector<std::int16_t>(read, read + 6),
             (std::vector<std::int16_t>{100, 100, -200, -200, 300, 300}));
}

void TestWavFile::chunksBeforeTheDataAreSkippedWithTheirPadding()
{
    // An odd-sized chunk is followed by one pad byte that its size does not count.
    QByteArray list = "LIST";
    list += QByteArray("\x03\x00\x00\x00", 4) + "abc" + QByteArray(1, 0);
    QByteArray data(4, 0);
    qToLittleEndian<std::int16_t>(1234, data.data());
    qToLittleEndian<std::int16_t>(-1234, data.data() + 2);
    writeFile(path("list.wav"), 1, 2, 16, data, list);

    WavReader reader;
    QVERIFY2(reader.open(path("list.wav")), qPrintable(reader.errorString()));
    std::int16_t read[2] = {};
    QCOMPARE(reader.readStereo(read, 10), 1);
    QCOMPARE(read[0], 1234);
    QCOMPARE(read[1], -1234);
}

void TestWavFile::unfinishedFileIsReadToItsEnd()
{
    // A writer that was killed leaves zero sizes; a streaming writer leaves sizes too large.
    writeFile(path("unfinished.wav"), 1, 2, 16, QByteArray(4 * 10, 1), {}, false);
    WavReader reader;
    QVERIFY2(reader.open(path("unfinished.wav")), qPrintable(reader.errorString()));
    std::int16_t read[40];
    QCOMPARE(reader.readStereo(read, 20), 10);
}

void TestWavFile::otherAudioIsRefused_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::newRow("24-bit") << 1 << 2 << 24;
    QTest::newRow("float") << 3 << 2 << 32;
    QTest::newRow("six channels") << 1 << 6 << 16;
}

void TestWavFile::otherAudioIsRefused()
{
    QFETCH(int, tag);
    QFETCH(int, channels);
    QFETCH(int, bits);
    writeFile(path("other.wav"), static_cast<std::uint16_t>(tag),
              static_cast<std::uint16_t>(channels), bits, QByteArray(48, 0));
    WavReader reader;
    QVERIFY(!reader.open(path("other.wav")));
    QVERIFY(reader.errorString().startsWith(path("other.wav") + ": "));

    QFile text(path("text.wav"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not audio at all");
    text.close();
    QVERIFY(!reader.open(path("text.wav")));
    QVERIFY(!reader.open(path("missing.wav")));
}

QTEST_GUILESS_MAIN(TestWavFile)
#include "tst_wavfile.moc"
