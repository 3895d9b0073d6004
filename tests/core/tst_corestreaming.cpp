#include "audio/opuscodec.h"
#include "audio/platform/fake/fakeaudioplatform.h"
#include "core/servercore.h"
#include "corepeers.h"
#include "playeraudio.h"
#include "support/netns.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>

namespace {

struct Header
{
    quint32 sequenceNumber;
    qint64 timestamp;
    quint8 marker;
    quint16 sampleRate;
    quint16 payloadLength;
};

Header readHeader(const QByteArray &datagram)
{
    const auto *bytes = reinterpret_cast<const uchar *>(datagram.constData());
    return {qFromLittleEndian<quint32>(bytes), qFromLittleEndian<qint64>(bytes + 4), bytes[12],
            qFromLittleEndian<quint16>(bytes + 13), qFromLittleEndian<quint16>(bytes + 15)};
}

// The share of a channel's energy that lies at one frequency: 1 for a pure tone.
double toneShare(const std::vector<std::int16_t> &stereo, int channel, double hz)
{
    double re = 0, im = 0, energy = 0;
    const std::size_t frames = stereo.size() / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        const double x = stereo[2 * i + channel];
        re += x * std::cos(2 * M_PI * hz * double(i) / 48000);
        im += x * std::sin(2 * M_PI * hz * double(i) / 48000);
        energy += x * x;
    }
    return energy > 0 ? (re * re + im * im) / (double(frames) * energy / 2) : 0;
}

// The longest stretch of frames in which some sample is not zero.
std::vector<std::int16_t> longestSound(const std::vector<std::int16_t> &stereo)
{
    std::size_t bestStart = 0, bestLength = 0, start = 0;
    const std::size_t frames = stereo.size() / 2;
    for (std::size_t i = 0; i <= frames; ++i) {
        if (i < frames && (stereo[2 * i] || stereo[2 * i + 1]))
            continue;
        if (i - start > bestLength) {
            bestStart = start;
            bestLength = i - start;
        }
        start = i + 1;
    }
    return {stereo.begin() + std::ptrdiff_t(2 * bestStart),
            stereo.begin() + std::ptrdiff_t(2 * (bestStart + bestLength))};
}

} // namespace

class TestCoreStreaming : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void capturedAudioBecomesNumberedFrames();
    void everyPhoneGetsTheSameBytes();
    void silenceIsSentLikeSound();
    void qualityChangesTheBitrate();
    void continuousCaptureKeepsTheStreamGoing();
    void readOutIsTheReportedDelayPlusTheWaitForTheFrame_data();
    void readOutIsTheReportedDelayPlusTheWaitForTheFrame();
    void eventSyncSwitchesWhileStreaming();

    void helloGoesToTheControlPortOnly();
    void playerPlaysTheToneItIsSent();
    void playerDropsMalformedAndForeignAudio();

private:
    ServerCore &makeCore();
    void registerPhone(Phone &phone, const QByteArray &name);
    // Feeds the capture and waits until the capture thread has handled it.
    void capture(const std::vector<float> &samples);

    FakeAudioPlatform *platform = nullptr;
    std::shared_ptr<FakeEndpoint> speakers;
    std::shared_ptr<FakeEndpoint> cable;
    std::unique_ptr<ServerCore> core;
};

void TestCoreStreaming::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
}

void TestCoreStreaming::init()
{
    platform = &FakeAudioPlatform::install();
    speakers = platform->addEndpoint(L"speakers", L"Speakers");
    cable = platform->addEndpoint(L"cable_input", L"CABLE Input");
}

void TestCoreStreaming::cleanup()
{
    core.reset();
    speakers.reset();
    cable.reset();
}

ServerCore &TestCoreStreaming::makeCore()
{
    core = std::make_unique<ServerCore>();
    // The plain sending path unless a test says otherwise: the fake delivers only what a
    // test feeds, and silence standing in for the rest would be counted with the frames.
    core->setContinuousCapture(false);
    return *core;
}

void TestCoreStreaming::registerPhone(Phone &phone, const QByteArray &name)
{
    QVERIFY(phone.bound);
    const int before = core->connectedDevices().size();
    phone.send("Kestrune-Hello|" + name);
    QTRY_COMPARE(core->connectedDevices().size(), before + 1);
}

void TestCoreStreaming::capture(const std::vector<float> &samples)
{
    speakers->feedFloat(samples);
    QVERIFY(speakers->waitUntilCaptured(2000));
}

void TestCoreStreaming::capturedAudioBecomesNumberedFrames()
{
    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    registerPhone(phone, "Phone");
    core.startServer();

    // 441 frames (882 samples) make no frame yet; a second packet completes one.
    capture(std::vector<float>(882, 0.25f));
    QTest::qWait(50);
    QCOMPARE(phone.audioReceived.size(), 0);
    capture(std::vector<float>(882, 0.25f));
    QTRY_COMPARE(phone.audioReceived.size(), 1);

    // A new start numbers from 0 again and does not send what the last run left over.
    core.stopServer();
    phone.audioReceived.clear();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    core.startServer();
    capture(tone(1000, 440, 440)); // two frames, 80 samples left
    QTRY_COMPARE(phone.audioReceived.size(), 2);
    capture(tone(440, 440, 440, 1000)); // the 80 left and 880 more: one frame
    QTRY_COMPARE(phone.audioReceived.size(), 3);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    // Nothing is left over now: 78 frames more make no frame.
    capture(tone(78, 440, 440, 1440));
    QTest::qWait(50);
    QCOMPARE(phone.audioReceived.size(), 3);

    for (int i = 0; i < 3; ++i) {
        const QNetworkDatagram &datagram = phone.audioReceived.at(i);
        const QByteArray bytes = datagram.data();
        const Header header = readHeader(bytes);
        QCOMPARE(header.sequenceNumber, quint32(i));
        QVERIFY(header.timestamp >= before * 1000000 && header.timestamp <= after * 1000000);
        QCOMPARE(header.timestamp % 1000000, 0);
        QCOMPARE(header.marker, quint8(1));
        QCOMPARE(quint8(bytes[13]), quint8(0x80));
        QCOMPARE(quint8(bytes[14]), quint8(0xBB));
        QVERIFY(header.payloadLength > 0);
        QCOMPARE(bytes.size(), 17 + header.payloadLength);
        QCOMPARE(datagram.senderAddress().toIPv4Address(),
                 QHostAddress("127.0.0.1").toIPv4Address());
    }
    // Sent only to the audio port.
    QCOMPARE(phone.controlReceived.size() + phone.discoveryReceived.size(), 0);
}

void TestCoreStreaming::everyPhoneGetsTheSameBytes()
{
    ServerCore &core = makeCore();
    Phone first("127.0.0.2");
    Phone second("127.0.0.3");
    registerPhone(first, "first");
    // Known only from its presence: it gets the stream all the same.
    second.send("Kestrune-Server|second", 8082);
    QTRY_COMPARE(core.connectedDevices().size(), 2);

    core.startServer();
    capture(tone(4800, 1000, 300));
    QTRY_COMPARE(first.audioReceived.size(), 10);
    QTRY_COMPARE(second.audioReceived.size(), 10);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(first.audioReceived.at(i).data(), second.audioReceived.at(i).data());

    // Once a device has disconnected it gets nothing more.
    second.send("Kestrune-Cmd|Disconnect");
    QTRY_COMPARE(core.connectedDevices().size(), 1);
    capture(tone(960, 1000, 300));
    QTRY_COMPARE(first.audioReceived.size(), 12);
    QTest::qWait(50);
    QCOMPARE(second.audioReceived.size(), 10);
}

void TestCoreStreaming::silenceIsSentLikeSound()
{
    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    registerPhone(phone, "Phone");
    core.startServer();
    speakers->feedSilence(960);
    QVERIFY(speakers->waitUntilCaptured(2000));
    QTRY_COMPARE(phone.audioReceived.size(), 2);
    QCOMPARE(readHeader(phone.audioReceived.at(1).data()).sequenceNumber, quint32(1));
}

void TestCoreStreaming::qualityChangesTheBitrate()
{
    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    registerPhone(phone, "Phone");
    core.startServer();

    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    const auto averagePayload = [&]() {
        phone.audioReceived.clear();
        std::vector<float> samples(960 * 40);
        for (float &x : samples)
            x = noise(random);
        capture(samples);
        [&] { QTRY_COMPARE(phone.audioReceived.size(), 40); }();
        double total = 0;
        for (const QNetworkDatagram &datagram : phone.audioReceived)
            total += readHeader(datagram.data()).payloadLength;
        return total / 40;
    };
    const double full = averagePayload();
    QVERIFY2(full > 140, qPrintable(QString::number(full))); // about 160 bytes at 128 kbit/s

    for (const char *ignored : {"0", "-5", "abc", "99999999"})
        phone.send(QByteArray("Kestrune-Cmd|Quality|") + ignored);
    QTest::qWait(50);
    const double unchanged = averagePayload();
    QVERIFY2(unchanged > full * 0.9, qPrintable(QString::number(unchanged)));

    phone.send("Kestrune-Cmd|Quality|64");
    QTest::qWait(50);
    const double half = averagePayload();
    QVERIFY2(half < full * 0.6, qPrintable(QString::number(half)));
}

// While the device delivers nothing the phones get silence at the 10 ms pace, numbered on
// with the rest of the stream; switched off, they get nothing until the device delivers.
void TestCoreStreaming::continuousCaptureKeepsTheStreamGoing()
{
    ServerCore &core = makeCore();
    core.setContinuousCapture(true);
    Phone phone("127.0.0.2");
    registerPhone(phone, "Phone");
    core.startServer();

    QTest::qWait(300);
    for (int second = 0; second < 2; ++second) {
        const qsizetype before = phone.audioReceived.size();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(1000);
        const qsizetype sent = phone.audioReceived.size() - before;
        const double due = clock.elapsed() / 10.0;
        QVERIFY2(std::abs(double(sent) - due) <= 5,
                 qPrintable(QStringLiteral("%1 frames, %2 due").arg(sent).arg(due)));
    }
    capture(tone(960, 1000, 1000));
    QTest::qWait(100);
    core.setContinuousCapture(false);
    QTest::qWait(200);
    const qsizetype stopped = phone.audioReceived.size();
    QTest::qWait(300);
    QCOMPARE(phone.audioReceived.size(), stopped);
    capture(tone(480, 1000, 1000, 960));
    QTRY_COMPARE(phone.audioReceived.size(), stopped + 1);

    OpusCodec decoder;
    QVERIFY(decoder.initDecoder(48000, 2));
    std::vector<std::int16_t> pcm(5760 * 2);
    qsizetype firstSound = -1;
    for (qsizetype i = 0; i < phone.audioReceived.size(); ++i) {
        const QByteArray bytes = phone.audioReceived.at(i).data();
        QCOMPARE(readHeader(bytes).sequenceNumber, quint32(i));
        const int frames =
            decoder.decode(reinterpret_cast<const unsigned char *>(bytes.constData()) + 17,
                           int(bytes.size()) - 17, pcm.data(), 5760);
        QCOMPARE(frames, 480);
        if (firstSound < 0 && !allSilent({pcm.begin(), pcm.begin() + 960}))
            firstSound = i;
    }
    // Every frame that stood in for the device decoded to silence.
    QVERIFY2(firstSound >= 220, qPrintable(QString::number(firstSound)));
}

void TestCoreStreaming::readOutIsTheReportedDelayPlusTheWaitForTheFrame_data()
{
    QTest::addColumn<int>("packetFrames");
    QTest::addColumn<int>("expectedMs");

    // A frame of two 5 ms packets: its middle sample is the second packet's first, sent as
    // soon as that packet is there.
    QTest::newRow("5 ms packets") << 240 << 20;
    // A frame that is one packet: its middle sample left the mixer 5 ms after its first.
    QTest::newRow("10 ms packets") << 480 << 15;
}

// The sound system reports 20 ms for every packet; the read-out adds what the frame's
// samples waited for it, and is renewed about once a second while streaming.
void TestCoreStreaming::readOutIsTheReportedDelayPlusTheWaitForTheFrame()
{
    QFETCH(int, packetFrames);
    QFETCH(int, expectedMs);

    ServerCore &core = makeCore();
    speakers->setCaptureDelay(20000);
    int updates = 0;
    connect(&core, &ServerCore::telemetryUpdated, this, [&](int ms) {
        ++updates;
        QCOMPARE(ms, core.captureLatencyMs());
    });
    core.startServer();
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        const auto period = std::chrono::microseconds(1000000 * packetFrames / 48000);
        for (auto next = std::chrono::steady_clock::now(); feeding; next += period) {
            std::this_thread::sleep_until(next);
            speakers->feedFloat(std::vector<float>(2 * std::size_t(packetFrames), 0.1f));
        }
    });
    QTest::qWait(2200);
    const int latency = core.captureLatencyMs();
    const int updatesWhileStreaming = updates;
    QSignalSpy cleared(&core, &ServerCore::captureLatencyMsChanged);
    core.stopServer();
    feeding = false;
    feeder.join();

    // Whatever the capture thread takes to get from the packet to the send comes on top.
    QVERIFY2(latency >= expectedMs && latency <= expectedMs + 3,
             qPrintable(QString::number(latency)));
    QVERIFY2(updatesWhileStreaming >= 2 && updatesWhileStreaming <= 3,
             qPrintable(QString::number(updatesWhileStreaming)));
    QCOMPARE(core.captureLatencyMs(), 0);
    QCOMPARE(cleared.size(), 1);
    QTest::qWait(1100);
    QCOMPARE(updates, updatesWhileStreaming);
}

// The switch reaches the capture thread at once: it stops waiting for packets and polls.
void TestCoreStreaming::eventSyncSwitchesWhileStreaming()
{
    ServerCore &core = makeCore();
    core.startServer();
    QTRY_VERIFY(speakers->packetWaits() > 2);
    core.setEventSync(false);
    QTest::qWait(200);
    const int waits = speakers->packetWaits();
    QTest::qWait(100);
    QCOMPARE(speakers->packetWaits(), waits);
    core.setEventSync(true);
    QTRY_VERIFY(speakers->packetWaits() > waits);
}

void TestCoreStreaming::helloGoesToTheControlPortOnly()
{
    ServerCore &core = makeCore();
    Phone phone("127.0.0.2");
    Phone other("127.0.0.3");
    registerPhone(phone, "Phone");
    registerPhone(other, "Other");

    core.connectToAddress("127.0.0.2");
    QTRY_COMPARE(phone.controlReceived.size(), 1);
    QCOMPARE(phone.controlReceived.first().data(),
             "Kestrune-Hello|" + QHostInfo::localHostName().toUtf8());
    QTest::qWait(50);
    QCOMPARE(phone.controlReceived.size(), 1);
    QCOMPARE(phone.audioReceived.size() + other.audioReceived.size() + other.controlReceived.size(),
             0);

    // The phone connected to still gets the stream when server mode runs again.
    core.startServer();
    capture(tone(960, 1000, 300));
    QTRY_COMPARE(phone.audioReceived.size(), 2);
    QTRY_COMPARE(other.audioReceived.size(), 2);
}

void TestCoreStreaming::playerPlaysTheToneItIsSent()
{
    // The cable plays a period every 10 ms, as a device does.
    cable->setManualRenderEvents(true);
    cable->setPlaysPeriods(true);
    QTimer device;
    device.setTimerType(Qt::PreciseTimer);
    connect(&device, &QTimer::timeout, this, [this] { cable->triggerRender(); });
    device.start(10);
    ServerCore &core = makeCore();
    core.setSelectedOutputDevice("cable_input");
    Phone phone("127.0.0.2");
    QVERIFY(phone.bound);
    core.connectToAddress("127.0.0.2");
    QVERIFY(cable->isRendering());

    OpusCodec encoder;
    QVERIFY(encoder.initEncoder(48000, 2, 128000));
    // Paced as a phone sends them: a burst would start playing at its newest packets.
    for (int frame = 0; frame < 10; ++frame) {
        phone.send(audioDatagram(encodedTone(encoder, frame), -1, quint32(frame)), 8080);
        QTest::qWait(10);
    }

    std::vector<std::int16_t> sound;
    QTRY_VERIFY((sound = longestSound(cable->renderedInt16())).size() >= 2 * 4000);
    // Past the codec's start-up, left carries 1000 Hz and right 500 Hz at amplitude 0.5.
    const std::vector<std::int16_t> steady(sound.begin() + 2 * 960, sound.end());
    QVERIFY2(toneShare(steady, 0, 1000) > 0.95,
             qPrintable(QString::number(toneShare(steady, 0, 1000))));
    QVERIFY2(toneShare(steady, 1, 500) > 0.95,
             qPrintable(QString::number(toneShare(steady, 1, 500))));
    QVERIFY(toneShare(steady, 0, 500) < 0.05);
    double energy = 0;
    for (std::size_t i = 0; i < steady.size(); i += 2)
        energy += double(steady[i]) * steady[i];
    const double rms = std::sqrt(energy / double(steady.size() / 2));
    QVERIFY2(std::abs(rms - 0.5 * 32767 / std::sqrt(2.0)) < 0.1 * 0.5 * 32767 / std::sqrt(2.0),
             qPrintable(QString::number(rms)));
}

void TestCoreStreaming::playerDropsMalformedAndForeignAudio()
{
    ServerCore &core = makeCore();
    core.setSelectedOutputDevice("cable_input");
    Phone phone("127.0.0.2");
    Phone stranger("127.0.0.3");
    QVERIFY(phone.bound && stranger.bound);
    OpusCodec encoder;
    QVERIFY(encoder.initEncoder(48000, 2, 128000));
    const std::vector<unsigned char> packet = encodedTone(encoder, 0);

    core.connectToAddress("127.0.0.2");
    cable->clearRendered();
    phone.send(audioDatagram(packet).left(16), 8080);                // shorter than a header
    phone.send(audioDatagram({}), 8080);                             // header only
    phone.send(audioDatagram(packet, 0), 8080);                      // announces nothing
    phone.send(audioDatagram(packet, int(packet.size()) + 1), 8080); // truncated
    phone.send(audioDatagram({0xff}), 8080);                         // not Opus
    stranger.send(audioDatagram(packet), 8080);                      // not the device connected to
    // Let the core take them all, then let the output play whatever it was given.
    QTest::qWait(50);
    QVERIFY(cable->waitForRenderCycles(cable->renderCycles() + 2, 2000));
    QVERIFY(allSilent(cable->renderedInt16()));

    // Bytes after the announced payload are ignored.
    phone.send(audioDatagram(packet) + "trail", 8080);
    QTRY_VERIFY(!allSilent(cable->renderedInt16()));
}

QTEST_GUILESS_MAIN(TestCoreStreaming)
#include "tst_corestreaming.moc"
