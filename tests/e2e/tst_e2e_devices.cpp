#include "e2esupport.h"
#include "support/netns.h"
#include "toneanalysis.h"

#include <QElapsedTimer>
#include <QTest>
#include <cmath>

using namespace E2e;

// The device lists and the virtual microphone end to end: the streaming core in the server
// driver against the sound server in PULSE_SERVER (or a private one of the same kind that
// the test stops and starts), the command-line peer as the phone on 127.0.0.2.
class TestDevicesEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void listsFollowASinkThatComesAndGoes_data();
    void listsFollowASinkThatComesAndGoes();
    void emptyListsSayWhyAndFillWhenTheServerComes();
    void virtualMicrophoneCarriesThePhonesTone();
    void virtualMicrophoneLeftByACrashIsReusedAndRemovedOnQuit_data();
    void virtualMicrophoneLeftByACrashIsReusedAndRemovedOnQuit();

private:
    QString path(const QString &name) const { return directory.filePath(name); }

    QTemporaryDir directory;
    int arriving = -1;
};

namespace {

// Does the action, then waits for the first "event devices" line for which the condition
// holds; its fields, and in tookMs the time since the action began, or nothing after
// timeoutMs.
template <typename Action, typename Condition>
QMap<QString, QString> waitForLists(Driver &driver, Action action, Condition condition,
                                    qint64 *tookMs, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    action();
    while (clock.elapsed() < timeoutMs) {
        const QString line = driver.waitForLine("event devices", int(timeoutMs - clock.elapsed()));
        if (line.isEmpty())
            break;
        const QMap<QString, QString> lists = fields(line);
        if (condition(lists)) {
            *tookMs = clock.elapsed();
            return lists;
        }
    }
    *tookMs = -1;
    return {};
}

// The driver's answer to a command that prints one line starting with its name.
QString ask(Driver &driver, const QString &command)
{
    driver.process.write((command + '\n').toUtf8());
    return driver.waitForLine(command + ' ', 5000);
}

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

QStringList idsIn(const QMap<QString, QString> &lists, const QString &list)
{
    return lists.value(list).split(',', Qt::SkipEmptyParts);
}

} // namespace

void TestDevicesEndToEnd::initTestCase()
{
    KESTRUNE_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(directory.isValid());
    bool ok = false;
    pactl({"info"}, &ok);
    QVERIFY2(ok, "the test's sound server does not answer");
    QVERIFY(modulesNaming("kestrune_virtual").isEmpty());
}

void TestDevicesEndToEnd::cleanup()
{
    // A failed test leaves nothing behind for the next one.
    if (arriving >= 0)
        unloadModule(arriving);
    arriving = -1;
    for (const QString &module : modulesNaming("kestrune_virtual"))
        unloadModule(module.toInt());
}

void TestDevicesEndToEnd::listsFollowASinkThatComesAndGoes_data()
{
    QTest::addColumn<bool>("streaming");
    QTest::newRow("idle") << false;
    QTest::newRow("streaming") << true;
}

// A sink loaded and unloaded shows in both lists, and leaves them, within a second; what
// was chosen stays chosen, and the stream to the phone runs on untouched.
void TestDevicesEndToEnd::listsFollowASinkThatComesAndGoes()
{
    QFETCH(bool, streaming);
    Driver driver;
    QStringList arguments{"--device", "speakers", "--output", "cable_input"};
    if (streaming)
        arguments << "--start";
    QVERIFY(driver.start(arguments));
    Child phone;
    if (streaming) {
        QVERIFY(phone.start(KESTRUNE_PEER, {"listen", "--bind", "127.0.0.2", "--server",
                                            "127.0.0.1", "--name", "e2e-phone", "--seconds", "3"}));
        QTRY_COMPARE_WITH_TIMEOUT(driver.state().value("devices"), QString("1"), 5000);
    }

    // A device comes long after the program started, not within the 250 ms it leaves
    // between two refreshes of its lists.
    QTest::qWait(300);
    qint64 cameMs = -1;
    const auto came = waitForLists(
        driver,
        [this] {
            arriving = loadModule({"module-null-sink", "sink_name=arriving",
                                   "sink_properties=device.description=Arriving"});
        },
        [](const QMap<QString, QString> &lists) {
            return idsIn(lists, "audio").contains("arriving") &&
                   idsIn(lists, "output").contains("arriving");
        },
        &cameMs, 2000);

    QVERIFY(arriving >= 0);
    QTest::qWait(300);
    qint64 wentMs = -1;
    waitForLists(
        driver,
        [this] {
            unloadModule(arriving);
            arriving = -1;
        },
        [](const QMap<QString, QString> &lists) {
            return !idsIn(lists, "audio").contains("arriving") &&
                   !idsIn(lists, "output").contains("arriving");
        },
        &wentMs, 2000);

    const QMap<QString, QString> state = driver.state();
    if (streaming)
        QVERIFY(phone.finish(10000));
    QVERIFY(driver.quit());
    qInfo("a loaded sink was listed %lld ms after pactl was asked to load it, an unloaded one "
          "gone after %lld ms (pactl's own time included)",
          cameMs, wentMs);
    QVERIFY(cameMs >= 0 && cameMs <= 1000);
    QVERIFY(wentMs >= 0 && wentMs <= 1000);
    QCOMPARE(came.value("state"), QString("0"));
    QCOMPARE(state.value("selected"), QString("speakers"));
    QCOMPARE(state.value("outputselected"), QString("cable_input"));
    QCOMPARE(state.value("running"), QString(streaming ? "1" : "0"));
    if (streaming) {
        const QMap<QString, QString> summary = fields(phone.waitForLine("summary:", 0));
        qInfo() << "phone:" << phone.lines.last();
        QVERIFY(summary.value("datagrams").toInt() >= 200);
        QCOMPARE(summary.value("lost"), "0");
        QCOMPARE(summary.value("restarts"), "0");
    }
}

// Without a sound server the lists are empty for that reason; once one starts, they fill
// within 3 s; without outputs they are empty for another reason.
void TestDevicesEndToEnd::emptyListsSayWhyAndFillWhenTheServerComes()
{
    PrivateServer server;
    Driver driver;
    QVERIFY(driver.start({}));
    const QMap<QString, QString> none = fields(ask(driver, "devices"));
    QCOMPARE(none.value("state"), QString("2"));
    QCOMPARE(none.value("output"), QString());
    QTest::qWait(2500); // it tries again meanwhile, with nothing to say

    qint64 started = -1;
    qint64 filledMs = -1;
    const auto filled = waitForLists(
        driver,
        [&] {
            QElapsedTimer clock;
            clock.start();
            server.start();
            started = clock.elapsed();
        },
        [](const QMap<QString, QString> &lists) {
            return lists.value("state") == "0" && idsIn(lists, "output").size() == 2;
        },
        &filledMs, 6000);

    qint64 noDevicesMs = -1;
    waitForLists(
        driver,
        [] {
            for (const QString &line : pactl({"list", "short", "modules"}).split('\n')) {
                if (line.contains("module-null-sink"))
                    unloadModule(line.section('\t', 0, 0).toInt());
            }
        },
        // PipeWire's server stands in a dummy output for none (as PulseAudio does where
        // module-always-sink is loaded, as on most desktops), and that one is listed.
        [](const QMap<QString, QString> &lists) {
            return lists.value("state") == "1" ||
                   (lists.value("state") == "0" && lists.value("output") == "auto_null");
        },
        &noDevicesMs, 2000);

    qint64 goneMs = -1;
    waitForLists(
        driver, [&] { server.stop(); },
        [](const QMap<QString, QString> &lists) { return lists.value("state") == "2"; }, &goneMs,
        3000);
    QVERIFY(driver.quit());
    qInfo("lists filled %lld ms after the sound server was started (the start itself took %lld "
          "ms); told of no outputs (or the server's stand-in) %lld ms after they were unloaded; "
          "of no server %lld ms after "
          "it was stopped",
          filledMs, started, noDevicesMs, goneMs);
    QVERIFY(filledMs >= 0 && filledMs <= 3000);
    QCOMPARE(idsIn(filled, "audio"), idsIn(filled, "output"));
    QVERIFY(noDevicesMs >= 0);
    QVERIFY(goneMs >= 0);
}

// Mic mode into the virtual microphone: what the phone sends, every program can record
// from the microphone's source.
void TestDevicesEndToEnd::virtualMicrophoneCarriesThePhonesTone()
{
    Driver driver;
    QVERIFY(driver.start({}));
    const QString cable = ask(driver, "vmic").section(' ', 1);
    QCOMPARE(cable, QString("kestrune_virtual_cable"));
    QCOMPARE(modulesNaming("kestrune_virtual").size(), 2);
    // Listed at once, for the window to select; every program lists the microphone.
    QVERIFY(idsIn(fields(ask(driver, "devices")), "output").contains(cable));
    QCOMPARE(descriptionOf("sinks", cable), QString("Kestrune Virtual Cable"));
    QCOMPARE(descriptionOf("sources", "kestrune_virtual_microphone"),
             QString("Kestrune Virtual Microphone"));
    QVERIFY(driver.command("output " + cable));

    QProcess recorder;
    recorder.setStandardOutputFile(path("microphone.raw"));
    recorder.start("parec", {"--device=kestrune_virtual_microphone", "--format=s16le",
                             "--rate=48000", "--channels=2", "--latency-msec=10", "--raw"});
    QVERIFY(recorder.waitForStarted());
    Child phone;
    QVERIFY(phone.start(KESTRUNE_PEER, {"send", "--to", "127.0.0.1", "--bind", "127.0.0.2",
                                        "--tone", "1000", "--seconds", "5"}));
    QVERIFY(driver.command("connect 127.0.0.2"));
    QVERIFY(phone.finish(15000));
    QTest::qWait(300);
    recorder.terminate();
    QVERIFY(recorder.waitForFinished(5000));
    QVERIFY(driver.quit());
    const QStringList left = modulesNaming("kestrune_virtual");

    const std::vector<double> heard = ToneAnalysis::firstChannel(readRaw(path("microphone.raw")));
    const ToneAnalysis::Span loud = ToneAnalysis::loudSpan(heard, sampleRate, -40);
    const ToneAnalysis::Span steady = ToneAnalysis::shrink(loud, sampleRate / 4);
    const ToneAnalysis::Measurement tone = ToneAnalysis::measure(heard, steady, sampleRate);
    qInfo("the microphone heard %.2f s of tone at %.1f Hz, %.1f dBFS; modules left after "
          "quitting: %d",
          loud.size() / double(sampleRate), tone.frequencyHz, tone.rmsDbfs, int(left.size()));
    // The monitor of a null sink that was idle may start up to 2 s late.
    QVERIFY(loud.size() >= 2 * sampleRate);
    QVERIFY(std::abs(tone.frequencyHz - 1000) <= 20);
    QVERIFY(left.isEmpty());
}

void TestDevicesEndToEnd::virtualMicrophoneLeftByACrashIsReusedAndRemovedOnQuit_data()
{
    QTest::addColumn<bool>("halfway");
    QTest::newRow("both left") << false;
    QTest::newRow("only the cable left") << true;
}

// A run that dies leaves its pair, or only its cable if it died between the two; the next
// run takes it over and completes it instead of loading a second one, and removes it when
// it quits.
void TestDevicesEndToEnd::virtualMicrophoneLeftByACrashIsReusedAndRemovedOnQuit()
{
    QFETCH(bool, halfway);
    {
        Driver crashing;
        QVERIFY(crashing.start({}));
        QCOMPARE(ask(crashing, "vmic"), QString("vmic kestrune_virtual_cable"));
        crashing.process.kill();
        QVERIFY(crashing.process.waitForFinished(5000));
    }
    if (halfway)
        unloadModule(
            modulesNaming("source_name=kestrune_virtual_microphone").value(0, "-1").toInt());
    const QStringList leftover = modulesNaming("kestrune_virtual");
    QCOMPARE(leftover.size(), halfway ? 1 : 2);

    Driver next;
    QVERIFY(next.start({}));
    const QMap<QString, QString> lists = fields(ask(next, "devices"));
    QVERIFY(idsIn(lists, "output").contains("kestrune_virtual_cable"));
    const QStringList taken = modulesNaming("kestrune_virtual");
    QCOMPARE(taken.size(), 2);
    QCOMPARE(taken.first(), leftover.first());
    QVERIFY(!descriptionOf("sources", "kestrune_virtual_microphone").isEmpty());
    QVERIFY(next.quit());
    QVERIFY(modulesNaming("kestrune_virtual").isEmpty());
}

QTEST_GUILESS_MAIN(TestDevicesEndToEnd)
#include "tst_e2e_devices.moc"
