// The Linux sound backend telling of device changes and making the virtual microphone,
// against the sound server in PULSE_SERVER (the test fixture's), and against private
// servers of the same kind that the tests stop and start.
#include "audio/platform/audioplatform.h"
#include "e2esupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>

using namespace E2e;

namespace {

// Counts a platform's reports for as long as it lives.
class ReportCounter
{
public:
    explicit ReportCounter(AudioPlatform &platform)
        : platform(platform), watch(platform.watchDevices([this] {
              if (++reports == 1)
                  firstMs = sinceWatch.elapsed();
          }))
    {
    }
    ~ReportCounter() { platform.unwatchDevices(watch); }

    // How long after the watch began the first report came, the one that says the platform
    // listens; -1 when none came within 3 s.
    qint64 msUntilListening()
    {
        while (reports == 0 && sinceWatch.elapsed() < 3000)
            QTest::qSleep(2);
        return reports == 0 ? -1 : firstMs.load();
    }
    // How long until a report comes after the ones counted before the action; -1 after
    // timeoutMs. The time includes the action's own, so it is an upper bound.
    template <typename Action> qint64 msUntilReportAfter(Action action, int timeoutMs = 1000)
    {
        const int before = reports;
        QElapsedTimer clock;
        clock.start();
        action();
        while (reports == before && clock.elapsed() < timeoutMs)
            QTest::qSleep(2);
        return reports == before ? -1 : clock.elapsed();
    }
    // Waits until no report has come for quietMs.
    void settle(int quietMs = 300)
    {
        for (int seen = -1; seen != reports;) {
            seen = reports;
            QTest::qSleep(quietMs);
        }
    }

private:
    AudioPlatform &platform;
    QElapsedTimer sinceWatch = started();
    std::atomic<qint64> firstMs{-1};
    std::atomic<int> reports{0};
    int watch;

    static QElapsedTimer started()
    {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }
};

// The description of a sink or source, from pactl's long listing; empty when there is none.
QString descriptionOf(const char *kind, const QString &name)
{
    for (const QString &block : pactl({"list", kind}).split("\n\n")) {
        if (!block.contains("\tName: " + name + "\n"))
            continue;
        const int at = block.indexOf("\tDescription: ");
        return at < 0 ? QString() : block.mid(at + 14).section('\n', 0, 0);
    }
    return {};
}

} // namespace

class TestPulseDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!pactl({"info"}).isEmpty(), "the test's sound server does not answer");
        QVERIFY(modulesNaming("kestrune_virtual").isEmpty());
    }

    void cleanup()
    {
        // A failed test leaves no virtual microphone for the next one.
        for (const QString &module : modulesNaming("kestrune_virtual"))
            pactl({"unload-module", module});
    }

    // Once it listens, a sink that comes or goes, and a new default sink, are reported at
    // once; after the watch ends nothing more is.
    void reportsSinksAndTheDefault()
    {
        const auto platform = createSystemAudioPlatform();
        auto counter = std::make_unique<ReportCounter>(*platform);
        const qint64 listening = counter->msUntilListening();
        QVERIFY2(listening >= 0, "no report once the watch listened");
        counter->settle();

        int module = -1;
        const qint64 arrived = counter->msUntilReportAfter([&] {
            module = loadModule({"module-null-sink", "sink_name=arriving"});
        });
        QVERIFY(module >= 0);
        counter->settle();
        const qint64 left = counter->msUntilReportAfter([&] { unloadModule(module); });
        counter->settle();
        const qint64 defaultMoved = counter->msUntilReportAfter([] {
            pactl({"set-default-sink", "cable_input"});
        });
        pactl({"set-default-sink", "speakers"});
        counter->settle();
        qInfo("reported within: listening %lld ms, a sink loaded %lld ms, unloaded %lld ms, a "
              "new default %lld ms",
              listening, arrived, left, defaultMoved);
        QVERIFY(arrived >= 0 && left >= 0 && defaultMoved >= 0);

        counter.reset();
        std::atomic<int> late{0};
        const int watch = platform->watchDevices([&late] { ++late; });
        platform->unwatchDevices(watch);
        const int again = loadModule({"module-null-sink", "sink_name=unheard"});
        QTest::qSleep(300);
        unloadModule(again);
        QCOMPARE(late.load(), 0);
    }

    // A server that goes away is reported, and so is its return, within the 2 s between
    // attempts to reach it.
    void reportsTheServerGoingAndComing()
    {
        PrivateServer server;
        QVERIFY(server.start());
        const auto platform = createSystemAudioPlatform();
        auto counter = std::make_unique<ReportCounter>(*platform);
        QVERIFY(counter->msUntilListening() >= 0);
        counter->settle();
        QVERIFY(platform->isReachable());

        const qint64 gone = counter->msUntilReportAfter([&] { server.stop(); }, 2000);
        QVERIFY(!platform->isReachable());
        QVERIFY(platform->outputEndpoints().empty());
        counter->settle(2500); // at least one more attempt to reach it, which is no change
        const qint64 back = counter->msUntilReportAfter([&] { server.start(); }, 5000);
        qInfo("the server's end reported within %lld ms; its return within %lld ms of starting "
              "it (start included)",
              gone, back);
        QVERIFY(gone >= 0);
        QVERIFY(back >= 0);
        QVERIFY(platform->isReachable());
        QCOMPARE(platform->outputEndpoints().size(), std::size_t(2));
    }

    // Made once: the cable sink and the microphone source, with their descriptions. Made
    // again while it exists, nothing is loaded twice; whoever holds it last removes it.
    void virtualMicrophoneIsMadeOnceAndRemoved()
    {
        const auto platform = createSystemAudioPlatform();
        QVERIFY(platform->canMakeVirtualMicrophone());
        QVERIFY(!platform->takeOverVirtualMicrophone());

        auto made = platform->makeVirtualMicrophone();
        QVERIFY(made);
        QCOMPARE(QString::fromStdWString(made->outputId()), QString("kestrune_virtual_cable"));
        QCOMPARE(modulesNaming("kestrune_virtual").size(), 2);
        QCOMPARE(descriptionOf("sinks", "kestrune_virtual_cable"),
                 QString("Kestrune Virtual Cable"));
        QCOMPARE(descriptionOf("sources", "kestrune_virtual_microphone"),
                 QString("Kestrune Virtual Microphone"));
        bool listed = false;
        for (const DeviceInfo &endpoint : platform->outputEndpoints())
            listed |= endpoint.id == made->outputId() && endpoint.name == L"Kestrune Virtual Cable";
        QVERIFY(listed);

        const QStringList modules = modulesNaming("kestrune_virtual");
        auto again = platform->takeOverVirtualMicrophone();
        QVERIFY(again);
        QCOMPARE(modulesNaming("kestrune_virtual"), modules);
        made.reset();
        QVERIFY(modulesNaming("kestrune_virtual").isEmpty());
        QVERIFY(descriptionOf("sources", "kestrune_virtual_microphone").isEmpty());
        again.reset();
    }

    // A run that ended halfway, leaving only the cable: the microphone is added to it, and
    // both go when the new owner does.
    void halfAPairIsCompleted()
    {
        QVERIFY(loadModule({"module-null-sink", "sink_name=kestrune_virtual_cable"}) >= 0);
        const auto platform = createSystemAudioPlatform();
        auto takenOver = platform->takeOverVirtualMicrophone();
        QVERIFY(takenOver);
        QCOMPARE(modulesNaming("kestrune_virtual").size(), 2);
        QVERIFY(!descriptionOf("sources", "kestrune_virtual_microphone").isEmpty());
        takenOver.reset();
        QVERIFY(modulesNaming("kestrune_virtual").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPulseDevices)
#include "tst_pulsedevices.moc"
