// The Linux sound backend against a real PulseAudio server: the private test server with
// the sinks "speakers" (Speakers, the default) and "cable_input" (CABLE Input), plus
// servers and sinks the tests make and break themselves.
#include "audio/platform/audioplatform.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int rate = 48000;

// pactl's output, trimmed; empty when it failed.
QString pactl(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    process.setProcessEnvironment(environment);
    process.start("pactl", arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Plays a stereo sine into a sink with pacat, for as long as the object lives.
class TonePlayer
{
public:
    TonePlayer(const QString &sink, double frequency, double seconds)
    {
        const int frames = int(seconds * rate);
        QByteArray pcm(frames * 4, Qt::Uninitialized);
        for (int i = 0; i < frames; ++i) {
            const auto value = qint16(12000 * std::sin(2 * M_PI * frequency * i / rate));
            std::memcpy(pcm.data() + 4 * i, &value, 2);
            std::memcpy(pcm.data() + 4 * i + 2, &value, 2);
        }
        file.open();
        file.write(pcm);
        file.flush();
        process.start("pacat", {"--playback", "--device=" + sink, "--format=s16le", "--rate=48000",
                                "--channels=2", "--latency-msec=20", "--raw", file.fileName()});
        process.waitForStarted();
    }
    ~TonePlayer()
    {
        process.kill();
        process.waitForFinished();
    }

private:
    QTemporaryFile file;
    QProcess process;
};

// Frequency of the loud part of a mono signal, by counting upward zero crossings.
// The frequency from the median period between rising zero crossings (placed between
// samples by interpolation), so a gap in the source, such as a starved player process on a
// loaded machine, cannot pull the estimate off.
double toneFrequency(const std::vector<float> &mono)
{
    std::vector<double> periods;
    double previous = -1;
    for (std::size_t i = 1; i < mono.size(); ++i) {
        const float before = mono[i - 1];
        const float after = mono[i];
        if (!(before < 0 && after >= 0) || after - before < 0.01f)
            continue;
        const double crossing = double(i - 1) + double(-before) / double(after - before);
        if (previous >= 0)
            periods.push_back(crossing - previous);
        previous = crossing;
    }
    if (periods.size() < 10)
        return 0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return double(rate) / periods[periods.size() / 2];
}

float peak(const std::vector<float> &samples)
{
    float loudest = 0;
    for (const float sample : samples)
        loudest = std::max(loudest, std::fabs(sample));
    return loudest;
}

// What a loopback stream delivered, read the way the capture engine reads it.
struct Recording
{
    std::vector<float> left;
    std::vector<std::uint32_t> packetFrames;
    std::vector<std::int64_t> delaysUs;
    int silentPackets = 0;

    // Drains every ready packet; false when the stream reports a failure.
    bool drain(LoopbackStream &stream)
    {
        std::uint32_t frames = 0;
        if (!stream.nextPacketSize(frames))
            return false;
        while (frames > 0) {
            CapturePacket packet;
            if (!stream.getBuffer(packet))
                return false;
            packetFrames.push_back(packet.frames);
            delaysUs.push_back(packet.delayUs);
            if (packet.silent)
                ++silentPackets;
            float frame[2];
            for (std::uint32_t i = 0; i < packet.frames; ++i) {
                std::memcpy(frame, packet.data + i * sizeof frame, sizeof frame);
                left.push_back(packet.silent ? 0.0f : frame[0]);
            }
            stream.releaseBuffer(packet.frames);
            if (!stream.nextPacketSize(frames))
                return false;
        }
        return true;
    }
};

// Feeds a render stream the way the output engine does, with a sine of the given frequency.
struct Renderer
{
    double frequency = 440;
    std::uint64_t written = 0;
    int wakes = 0;

    // One turn of the render loop; false when the stream reports a failure.
    bool turn(RenderStream &stream)
    {
        stream.waitForEvent(100);
        ++wakes;
        std::uint32_t padding = 0;
        if (!stream.currentPadding(padding))
            return false;
        const std::uint32_t free = stream.bufferFrames() - padding;
        if (free == 0)
            return true;
        unsigned char *buffer = stream.getBuffer(free);
        if (!buffer)
            return false;
        const int channels = stream.format().channels;
        for (std::uint32_t i = 0; i < free; ++i, ++written) {
            const auto value =
                qint16(12000 * std::sin(2 * M_PI * frequency * double(written) / rate));
            for (int channel = 0; channel < channels; ++channel)
                std::memcpy(buffer + (i * channels + channel) * 2, &value, 2);
        }
        stream.releaseBuffer(free);
        return true;
    }
};

// Records a sink's monitor with parec while it lives.
class MonitorRecorder
{
public:
    explicit MonitorRecorder(const QString &sink)
    {
        process.start("parec", {"--device=" + sink + ".monitor", "--format=s16le", "--rate=48000",
                                "--channels=2", "--latency-msec=10", "--raw"});
        process.waitForStarted();
    }
    std::vector<float> stop()
    {
        process.terminate();
        process.waitForFinished();
        const QByteArray pcm = process.readAllStandardOutput();
        std::vector<float> left;
        for (int i = 0; i + 4 <= pcm.size(); i += 4) {
            qint16 sample;
            std::memcpy(&sample, pcm.constData() + i, 2);
            left.push_back(sample / 32768.0f);
        }
        return left;
    }

private:
    QProcess process;
};

// A null sink that the test loads and unloads.
class TemporarySink
{
public:
    TemporarySink(const QString &name, const QString &description)
    {
        module = pactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=48000",
                        "channels=2",
                        QString("sink_properties='device.description=\"%1\"'").arg(description)});
    }
    ~TemporarySink() { unload(); }
    bool loaded() const { return !module.isEmpty(); }
    void unload()
    {
        if (!module.isEmpty())
            pactl({"unload-module", module});
        module.clear();
    }

private:
    QString module;
};

class ServerAddress
{
public:
    explicit ServerAddress(const QByteArray &address) : saved(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", address);
    }
    ~ServerAddress() { qputenv("PULSE_SERVER", saved); }

private:
    QByteArray saved;
};

} // namespace

class TestPulseAudioPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!pactl({"info"}).isEmpty(), "the private PulseAudio server does not answer");
        QCOMPARE(pactl({"get-default-sink"}), QString("speakers"));
    }

    void listsSinksInServerOrder()
    {
        const auto platform = createSystemAudioPlatform();
        const std::vector<DeviceInfo> endpoints = platform->outputEndpoints();
        QStringList ids;
        for (const DeviceInfo &endpoint : endpoints)
            ids << QString::fromStdWString(endpoint.id);
        QStringList serverOrder;
        for (const QString &line : pactl({"list", "short", "sinks"}).split('\n'))
            serverOrder << line.section('\t', 1, 1);
        QCOMPARE(ids, serverOrder);
        QCOMPARE(ids.mid(0, 2), QStringList({"speakers", "cable_input"}));
        QCOMPARE(QString::fromStdWString(endpoints[0].name), QString("Speakers"));
        QCOMPARE(QString::fromStdWString(endpoints[1].name), QString("CABLE Input"));
    }

    void loopbackHearsOnlyItsOwnSink_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("speakers by name") << "speakers";
        QTest::newRow("default endpoint") << "";
    }

    // A tone played into the speakers reaches the speakers' loopback (the default endpoint
    // is the speakers), and nothing of it reaches the cable's.
    void loopbackHearsOnlyItsOwnSink()
    {
        QFETCH(QString, id);
        const auto platform = createSystemAudioPlatform();
        const auto speakers = platform->openEndpoint(id.toStdWString());
        const auto cable = platform->openEndpoint(L"cable_input");
        QVERIFY(speakers && cable);
        const auto speakersLoopback = speakers->openLoopback();
        const auto cableLoopback = cable->openLoopback();
        QVERIFY(speakersLoopback && cableLoopback);
        const StreamFormat format = speakersLoopback->format();
        QCOMPARE(format.encoding, StreamFormat::Encoding::Float);
        QCOMPARE(format.sampleRate, 48000);
        QCOMPARE(format.channels, 2);
        QCOMPARE(format.bitsPerSample, 32);
        QVERIFY(speakersLoopback->start());
        QVERIFY(cableLoopback->start());

        Recording speakersRecording;
        Recording cableRecording;
        double seconds = 0;
        {
            TonePlayer tone("speakers", 1000, 0.6);
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 900) {
                QThread::msleep(10);
                QVERIFY(speakersRecording.drain(*speakersLoopback));
                QVERIFY(cableRecording.drain(*cableLoopback));
            }
            seconds = clock.elapsed() / 1000.0;
        }
        speakersLoopback->stop();
        cableLoopback->stop();

        QVERIFY(peak(speakersRecording.left) > 0.3f);
        QVERIFY(std::fabs(toneFrequency(speakersRecording.left) - 1000) < 5);
        // Nothing lost or repeated: as many frames as time passed, give or take the buffering.
        QVERIFY(speakersRecording.left.size() > std::size_t(0.8 * rate * seconds));
        QVERIFY(speakersRecording.left.size() < std::size_t(1.2 * rate * seconds));

        QVERIFY(cableRecording.left.size() > std::size_t(rate / 2));
        QCOMPARE(peak(cableRecording.left), 0.0f);
    }

    void stoppedLoopbackDeliversNothingAndRestarts()
    {
        const auto platform = createSystemAudioPlatform();
        const auto endpoint = platform->openEndpoint(L"speakers");
        QVERIFY(endpoint);
        const auto loopback = endpoint->openLoopback();
        QVERIFY(loopback);
        // Opened, not started: nothing flows yet.
        QThread::msleep(100);
        Recording idle;
        QVERIFY(idle.drain(*loopback));
        QCOMPARE(idle.left.size(), std::size_t(0));

        QVERIFY(loopback->start());
        Recording running;
        for (int i = 0; i < 20; ++i) {
            QThread::msleep(10);
            QVERIFY(running.drain(*loopback));
        }
        QVERIFY(running.left.size() >= std::size_t(rate / 10));
    }

    // A reader waiting for 10 ms of audio wakes as soon as it has arrived, long before the
    // wait's timeout and however the server cuts it into packets, and learns how long ago
    // each packet's first frame was played.
    void loopbackWakesWhenTheAudioWaitedForIsThere()
    {
        const auto platform = createSystemAudioPlatform();
        const auto endpoint = platform->openEndpoint(L"speakers");
        QVERIFY(endpoint);
        const auto loopback = endpoint->openLoopback();
        QVERIFY(loopback);
        QVERIFY(loopback->start());
        Recording recording;
        std::vector<std::size_t> framesPerWake;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 500) {
            loopback->waitForPacket(480, 200);
            const std::size_t before = recording.left.size();
            QVERIFY(recording.drain(*loopback));
            framesPerWake.push_back(recording.left.size() - before);
        }
        loopback->stop();

        // Waits that only timed out would wake three times, each on 200 ms of audio.
        QVERIFY2(framesPerWake.size() >= 25, qPrintable(QString::number(framesPerWake.size())));
        std::nth_element(framesPerWake.begin(), framesPerWake.begin() + framesPerWake.size() / 2,
                         framesPerWake.end());
        const std::size_t typical = framesPerWake[framesPerWake.size() / 2];
        QVERIFY2(typical >= 480 && typical < 960, qPrintable(QString::number(typical)));
        const auto known = std::count_if(recording.delaysUs.begin(), recording.delaysUs.end(),
                                         [](std::int64_t delay) { return delay >= 0; });
        QVERIFY(known >= std::ptrdiff_t(recording.delaysUs.size() / 2));
        for (const std::int64_t delay : recording.delaysUs)
            QVERIFY2(delay < 200000, qPrintable(QString::number(delay)));
    }

    // Rendered audio is heard on the sink's monitor; the render loop wakes about every
    // 10 ms, not in a busy loop and not only on its timeout.
    void renderIsHeardOnTheSinksMonitor()
    {
        const auto platform = createSystemAudioPlatform();
        const auto cable = platform->openEndpoint(L"cable_input");
        QVERIFY(cable);
        const auto render = cable->openRender(48000, 2, 100);
        QVERIFY(render);
        const StreamFormat format = render->format();
        QCOMPARE(format.encoding, StreamFormat::Encoding::Pcm);
        QCOMPARE(format.sampleRate, 48000);
        QCOMPARE(format.channels, 2);
        QCOMPARE(format.bitsPerSample, 16);
        QVERIFY(render->bufferFrames() >= 4000 && render->bufferFrames() <= 5600);

        MonitorRecorder recorder("cable_input");
        QThread::msleep(100);
        QVERIFY(render->start());
        Renderer renderer;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 700)
            QVERIFY(renderer.turn(*render));
        std::uint32_t padding = 0;
        QVERIFY(render->currentPadding(padding));
        QVERIFY(padding > 0 && padding <= render->bufferFrames());
        QThread::msleep(200);
        render->stop();
        const std::vector<float> heard = recorder.stop();

        QVERIFY2(renderer.wakes >= 10 && renderer.wakes <= 200,
                 qPrintable(QString::number(renderer.wakes)));
        // Everything written was asked for: no more than the buffer ahead of real time.
        QVERIFY(renderer.written <= std::uint64_t(0.7 * rate) + render->bufferFrames() + 2400);
        QVERIFY(peak(heard) > 0.3f);
        QVERIFY(std::fabs(toneFrequency(heard) - 440) < 3);
    }

    // The sink plays the stream in periods of the render loop's size: the sound server
    // holds the stream's buffer, not the buffer again in the sink. A bare null sink (no
    // keepalive) takes the latency its one stream asks of it.
    void renderAsksTheSinkForOnePeriod()
    {
        const QString index = pactl(
            {"load-module", "module-null-sink", "sink_name=bare", "rate=48000", "channels=2"});
        QVERIFY(!index.isEmpty());
        const auto platform = createSystemAudioPlatform();
        const auto bare = platform->openEndpoint(L"bare");
        QVERIFY(bare);
        const auto render = bare->openRender(48000, 2, 100);
        QVERIFY(render);
        QVERIFY(render->start());
        Renderer renderer;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 300)
            QVERIFY(renderer.turn(*render));
        const QString sinks = pactl({"list", "sinks"});
        render->stop();
        pactl({"unload-module", index});

        const QRegularExpression configured(
            "Name: bare\\n(?:.*\\n)*?\\s*Latency: \\d+ usec, configured (\\d+) usec");
        const QRegularExpressionMatch match = configured.match(sinks);
        QVERIFY2(match.hasMatch(), qPrintable(sinks));
        QVERIFY2(match.captured(1).toInt() <= 20000, qPrintable(match.captured(0)));
    }

    void wakeEndsAWaitAtOnce()
    {
        const auto platform = createSystemAudioPlatform();
        const auto cable = platform->openEndpoint(L"cable_input");
        QVERIFY(cable);
        const auto render = cable->openRender(48000, 2, 100);
        QVERIFY(render);
        // Not started and its first request consumed: only the timeout or wake() end a wait.
        render->waitForEvent(100);
        QElapsedTimer clock;
        clock.start();
        render->waitForEvent(60);
        QVERIFY(clock.elapsed() >= 50);
        render->wake();
        clock.restart();
        render->waitForEvent(1000);
        QVERIFY(clock.elapsed() < 500);
    }

    void openRejectsBadRequests()
    {
        const auto platform = createSystemAudioPlatform();
        QVERIFY(!platform->openEndpoint(L"no_such_sink"));
        // A source is not an output endpoint, not even the monitor of one.
        QVERIFY(!platform->openEndpoint(L"speakers.monitor"));
        const auto speakers = platform->openEndpoint(L"speakers");
        QVERIFY(speakers);
        QVERIFY(!speakers->openRender(0, 2, 100));
        QVERIFY(!speakers->openRender(48000, 0, 100));
        QVERIFY(!speakers->openRender(48000, 300, 100));
    }

    void togglingMuteTwiceRestoresIt()
    {
        const auto platform = createSystemAudioPlatform();
        QCOMPARE(pactl({"get-sink-mute", "speakers"}), QString("Mute: no"));
        QVERIFY(platform->toggleDefaultOutputMute());
        QCOMPARE(pactl({"get-sink-mute", "speakers"}), QString("Mute: yes"));
        QCOMPARE(pactl({"get-sink-mute", "cable_input"}), QString("Mute: no"));
        QVERIFY(platform->toggleDefaultOutputMute());
        QCOMPARE(pactl({"get-sink-mute", "speakers"}), QString("Mute: no"));
    }

    // A sink that goes away fails the streams on it quickly: they are never moved to
    // another device behind the engine's back, and nothing hangs.
    void removedSinkFailsItsStreams()
    {
        TemporarySink sink("doomed", "Écouteurs ♪ 2");
        QVERIFY(sink.loaded());
        const auto platform = createSystemAudioPlatform();
        bool listed = false;
        for (const DeviceInfo &endpoint : platform->outputEndpoints())
            listed |= endpoint.id == L"doomed" && endpoint.name == L"Écouteurs ♪ 2";
        QVERIFY(listed);

        const auto endpoint = platform->openEndpoint(L"doomed");
        QVERIFY(endpoint);
        const auto loopback = endpoint->openLoopback();
        const auto render = endpoint->openRender(48000, 2, 100);
        QVERIFY(loopback && render);
        QVERIFY(loopback->start());
        QVERIFY(render->start());
        Recording recording;
        Renderer renderer;
        for (int i = 0; i < 10; ++i) {
            QVERIFY(renderer.turn(*render));
            QVERIFY(recording.drain(*loopback));
        }

        QElapsedTimer clock;
        clock.start();
        sink.unload();
        qint64 loopbackFailedAfter = -1;
        qint64 renderFailedAfter = -1;
        while (clock.elapsed() < 3000 && (loopbackFailedAfter < 0 || renderFailedAfter < 0)) {
            if (loopbackFailedAfter < 0 && !recording.drain(*loopback))
                loopbackFailedAfter = clock.elapsed();
            if (renderFailedAfter < 0 && !renderer.turn(*render))
                renderFailedAfter = clock.elapsed();
        }
        qInfo("after the sink was unloaded: loopback failed in %lld ms, render in %lld ms",
              loopbackFailedAfter, renderFailedAfter);
        QVERIFY(loopbackFailedAfter >= 0 && loopbackFailedAfter < 1000);
        QVERIFY(renderFailedAfter >= 0 && renderFailedAfter < 1000);
        // It stays failed, and the sink is gone from every door.
        std::uint32_t frames = 0;
        QVERIFY(!loopback->nextPacketSize(frames));
        CapturePacket packet;
        QVERIFY(!loopback->getBuffer(packet));
        QVERIFY(!render->getBuffer(480));
        QVERIFY(!loopback->start());
        QVERIFY(!endpoint->openLoopback());
        QVERIFY(!platform->openEndpoint(L"doomed"));
    }

    // With no server, every operation fails at once, and the platform reconnects as soon
    // as the server can be reached again.
    void unreachableServerFailsQuicklyAndRecovers()
    {
        const auto platform = createSystemAudioPlatform();
        {
            ServerAddress nowhere("unix:/nonexistent/native");
            QElapsedTimer clock;
            clock.start();
            QVERIFY(platform->outputEndpoints().empty());
            QVERIFY(!platform->openEndpoint(L""));
            QVERIFY(!platform->openEndpoint(L"speakers"));
            QVERIFY(!platform->toggleDefaultOutputMute());
            qInfo("four operations without a server took %lld ms", clock.elapsed());
            // Well under one 2 s wait: nothing waited for an answer that cannot come.
            QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        }
        QVERIFY(platform->outputEndpoints().size() >= 2);
        QVERIFY(platform->openEndpoint(L"speakers"));
    }

    // A server that takes the connection but never answers costs a bounded wait, not a hang.
    void silentServerTimesOut()
    {
        QTemporaryDir directory;
        QLocalServer silent;
        QVERIFY(silent.listen(directory.filePath("native")));
        ServerAddress address(("unix:" + directory.filePath("native")).toUtf8());
        const auto platform = createSystemAudioPlatform();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(platform->outputEndpoints().empty());
        const qint64 waited = clock.elapsed();
        qInfo("a silent server was given up after %lld ms", waited);
        QVERIFY(waited >= 1500 && waited < 3000);
    }

    // The server itself goes away while streams run: they fail, the lists empty, and when
    // a server is back the same platform serves again.
    void lostServerFailsStreamsAndRecovers()
    {
        QTemporaryDir directory;
        const QString script = QStringLiteral(KESTRUNE_PRIVATE_PULSE_SCRIPT);
        QVERIFY(QProcess::execute(script, {"start", directory.path()}) == 0);
        ServerAddress address(("unix:" + directory.filePath("native")).toUtf8());
        const auto platform = createSystemAudioPlatform();
        const auto endpoint = platform->openEndpoint(L"speakers");
        QVERIFY(endpoint);
        const auto loopback = endpoint->openLoopback();
        const auto render = endpoint->openRender(48000, 2, 100);
        QVERIFY(loopback && render);
        QVERIFY(loopback->start() && render->start());
        Recording recording;
        Renderer renderer;
        for (int i = 0; i < 10; ++i) {
            QVERIFY(renderer.turn(*render));
            QVERIFY(recording.drain(*loopback));
        }

        QElapsedTimer clock;
        clock.start();
        QVERIFY(QProcess::execute(script, {"stop", directory.path()}) == 0);
        qint64 loopbackFailedAfter = -1;
        qint64 renderFailedAfter = -1;
        while (clock.elapsed() < 5000 && (loopbackFailedAfter < 0 || renderFailedAfter < 0)) {
            if (loopbackFailedAfter < 0 && !recording.drain(*loopback))
                loopbackFailedAfter = clock.elapsed();
            if (renderFailedAfter < 0 && !renderer.turn(*render))
                renderFailedAfter = clock.elapsed();
        }
        qInfo("after the server was stopped: loopback failed in %lld ms, render in %lld ms",
              loopbackFailedAfter, renderFailedAfter);
        QVERIFY(loopbackFailedAfter >= 0 && loopbackFailedAfter < 2000);
        QVERIFY(renderFailedAfter >= 0 && renderFailedAfter < 2000);
        clock.restart();
        QVERIFY(platform->outputEndpoints().empty());
        QVERIFY(!platform->openEndpoint(L""));
        QVERIFY(!platform->toggleDefaultOutputMute());
        QVERIFY(clock.elapsed() < 1500);

        QVERIFY(QProcess::execute(script, {"start", directory.path()}) == 0);
        QCOMPARE(platform->outputEndpoints().size(), std::size_t(2));
        const auto again = platform->openEndpoint(L"");
        QVERIFY(again);
        QVERIFY(again->openLoopback());
        QVERIFY(QProcess::execute(script, {"stop", directory.path()}) == 0);
    }
};

QTEST_GUILESS_MAIN(TestPulseAudioPlatform)
#include "tst_pulseaudioplatform.moc"
