#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <vector>

// Processes and sound-server chores shared by the end-to-end tests. The tests run in a
// private network namespace of their own, with PULSE_SERVER pointing at the PulseAudio
// server of a test fixture: the private PulseAudio or the private PipeWire.
namespace E2e {

constexpr int sampleRate = 48000;

// Runs pactl with LC_ALL=C; its stdout, or an empty string when it failed.
QString pactl(const QStringList &arguments, bool *ok = nullptr);
bool sinkMuted(const QString &sink);
// The monitor source of a sink, as the sound server names it.
QString monitorOf(const QString &sink);
// Loads a module; its index, or -1.
int loadModule(const QStringList &arguments);
// A null sink that renders in small blocks from the start, as the fixture's own sinks do
// (an idle null sink of PulseAudio's would start its monitor up to 2 s late): where the
// fixture has a silent keepalive source, it plays into the sink through a loopback that
// ends with the sink. The sink module's index, or -1.
int loadFlowingNullSink(const QString &name, const QString &description);
bool unloadModule(int index);
// How much audio the fixture's sound server takes from a stream at once, in ms: PulseAudio
// what the stream asks for (10 ms), the PipeWire fixture a whole 1024-frame cycle (its
// minimum quantum, as PipeWire runs in a virtual machine).
double fixtureCycleMs();
// The indices of the loaded modules whose name or argument contain the text, in the
// server's order.
QStringList modulesNaming(const QString &text);

// A private sound server of the same kind as the fixture's (PulseAudio, or PipeWire with
// its PulseAudio server), which a test may stop and start. While the object lives,
// PULSE_SERVER points at it, so that the processes the test starts use it.
class PrivateServer
{
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer &) = delete;
    PrivateServer &operator=(const PrivateServer &) = delete;

    bool start();
    bool stop();

private:
    QString script() const;

    QTemporaryDir directory;
    const bool pipeWire;
    const QByteArray saved;
};

// A 16-bit stereo 48000 Hz WAV file of a sine tone; false when sox failed.
bool makeTone(const QString &path, double hz, double seconds, double amplitude);
std::vector<std::int16_t> readWav(const QString &path);
std::vector<std::int16_t> readRaw(const QString &path);

// key=value words of a line, such as the peer's summary.
QMap<QString, QString> fields(const QString &line);

// A child process whose stdout is read line by line, waiting where needed.
class Child
{
public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool start(const QString &program, const QStringList &arguments);
    // Waits for a line that starts with prefix, reading past the others; empty on timeout.
    QString waitForLine(const QString &prefix, int timeoutMs);
    // Waits for the end; false when it did not come or the exit was not a clean 0.
    bool finish(int timeoutMs);
    void terminate();
    bool running() const { return process.state() != QProcess::NotRunning; }

    QStringList lines; // everything read so far
    QProcess process;

private:
    void readLines();
    int nextLine = 0; // the first line waitForLine has not looked at
};

// The server driver (serverdriver.cpp) under the test's control.
class Driver : public Child
{
public:
    // Runs this build's server driver, or another build's at program.
    bool start(const QStringList &arguments, const QString &program = QString());
    // Sends a command and waits for its answer; the core's time for it in tookMs, or -1
    // with false when no answer came in time.
    bool command(const QString &line, qint64 *tookMs = nullptr, int timeoutMs = 5000);
    // The fields of a "state" answer.
    QMap<QString, QString> state(int timeoutMs = 5000);
    bool quit(int timeoutMs = 10000);
};

} // namespace E2e
