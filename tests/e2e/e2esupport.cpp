#include "e2esupport.h"

#include "wavreader.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtEndian>

namespace E2e {

QString pactl(const QStringList &arguments, bool *ok)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    process.setProcessEnvironment(environment);
    process.start("pactl", arguments);
    const bool done = process.waitForFinished(10000) &&
                      process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok)
        *ok = done;
    return done ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

bool sinkMuted(const QString &sink)
{
    return pactl({"get-sink-mute", sink}).trimmed() == "Mute: yes";
}

QString monitorOf(const QString &sink)
{
    // Blocks of "Sink #N", each with "Name: x" and "Monitor Source: y".
    const QStringList blocks = pactl({"list", "sinks"}).split("Sink #");
    for (const QString &block : blocks) {
        if (!block.contains(
                QRegularExpression("\\n\\s*Name: " + QRegularExpression::escape(sink) + "\\n")))
            continue;
        const QRegularExpressionMatch match =
            QRegularExpression("Monitor Source: (\\S+)").match(block);
        if (match.hasMatch())
            return match.captured(1);
    }
    return {};
}

int loadModule(const QStringList &arguments)
{
    bool ok = false;
    const QString index = pactl(QStringList{"load-module"} + arguments, &ok).trimmed();
    return ok ? index.toInt() : -1;
}

int loadFlowingNullSink(const QString &name, const QString &description)
{
    const int sink =
        loadModule({"module-null-sink", "sink_name=" + name, "rate=48000", "channels=2",
                    "sink_properties=device.description=" + description});
    if (sink < 0)
        return -1;
    // PipeWire renders an idle sink in small blocks already: its fixture has no keepalive.
    if (!pactl({"list", "short", "sources"}).contains("\tkeepalive\t"))
        return sink;
    if (loadModule({"module-loopback", "source=keepalive", "sink=" + name, "latency_msec=10",
                    "source_dont_move=true", "sink_dont_move=true"}) < 0)
        return -1;
    const QRegularExpression latency("\\n\\s*Latency: (\\d+) usec");
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000) {
        for (const QString &block : pactl({"list", "sinks"}).split("Sink #")) {
            const QRegularExpressionMatch match = latency.match(block);
            if (block.contains("\tName: " + name + "\n") && match.hasMatch() &&
                match.captured(1).toInt() < 50000)
                return sink;
        }
        QThread::msleep(50);
    }
    return -1;
}

double fixtureCycleMs()
{
    return pactl({"info"}).contains("PipeWire") ? 1024.0 * 1000 / sampleRate : 10.0;
}

bool unloadModule(int index)
{
    bool ok = false;
    pactl({"unload-module", QString::number(index)}, &ok);
    return ok;
}

QStringList modulesNaming(const QString &text)
{
    QStringList found;
    for (const QString &line : pactl({"list", "short", "modules"}).split('\n')) {
        if (line.contains(text))
            found << line.section('\t', 0, 0);
    }
    return found;
}

PrivateServer::PrivateServer()
    : pipeWire(pactl({"info"}).contains("PipeWire")), saved(qgetenv("PULSE_SERVER"))
{
    // Where each kind's script puts its PulseAudio socket.
    const QString socket = directory.filePath(pipeWire ? "pulse/native" : "native");
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
}

PrivateServer::~PrivateServer()
{
    stop();
    qputenv("PULSE_SERVER", saved);
}

bool PrivateServer::start()
{
    return QProcess::execute(script(), {"start", directory.path()}) == 0;
}

bool PrivateServer::stop()
{
    return QProcess::execute(script(), {"stop", directory.path()}) == 0;
}

QString PrivateServer::script() const
{
    return QStringLiteral(KESTRUNE_TEST_SUPPORT_DIR) +
           (pipeWire ? "/private-pipewire.sh" : "/private-pulse.sh");
}

bool makeTone(const QString &path, double hz, double seconds, double amplitude)
{
    QProcess sox;
    sox.start("sox",
              {"-n", "-r", "48000", "-c", "2", "-b", "16", path, "synth", QString::number(seconds),
               "sine", QString::number(hz), "vol", QString::number(amplitude)});
    return sox.waitForFinished(30000) && sox.exitStatus() == QProcess::NormalExit &&
           sox.exitCode() == 0;
}

std::vector<std::int16_t> readWav(const QString &path)
{
    WavReader reader;
    std::vector<std::int16_t> samples;
    if (!reader.open(path))
        return samples;
    std::vector<std::int16_t> block(2 * 4800);
    while (const int frames = reader.readStereo(block.data(), 4800))
        samples.insert(samples.end(), block.begin(), block.begin() + 2 * frames);
    return samples;
}

std::vector<std::int16_t> readRaw(const QString &path)
{
    QFile file(path);
    std::vector<std::int16_t> samples;
    if (!file.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray bytes = file.readAll();
    samples.resize(static_cast<std::size_t>(bytes.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<std::int16_t>(bytes.constData() + 2 * i);
    return samples;
}

QMap<QString, QString> fields(const QString &line)
{
    QMap<QString, QString> result;
    for (const QString &word : line.split(' ', Qt::SkipEmptyParts)) {
        const int equals = word.indexOf('=');
        if (equals > 0)
            result.insert(word.left(equals), word.mid(equals + 1));
    }
    return result;
}

Child::~Child()
{
    if (running()) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool Child::start(const QString &program, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForStarted(10000);
}

void Child::readLines()
{
    while (process.canReadLine())
        lines << QString::fromUtf8(process.readLine()).trimmed();
}

QString Child::waitForLine(const QString &prefix, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readLines();
        while (nextLine < lines.size()) {
            const QString &line = lines.at(nextLine++);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || (!running() && process.bytesAvailable() == 0))
            return {};
        process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
}

bool Child::finish(int timeoutMs)
{
    const bool ended = process.waitForFinished(timeoutMs);
    readLines();
    if (process.bytesAvailable() > 0) // a last line without a line end
        lines << QString::fromUtf8(process.readAll()).trimmed();
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void Child::terminate()
{
    process.terminate();
}

bool Driver::start(const QStringList &arguments, const QString &program)
{
    return Child::start(program.isEmpty() ? QStringLiteral(SERVER_DRIVER) : program, arguments) &&
           !waitForLine("ready", 15000).isEmpty();
}

bool Driver::command(const QString &line, qint64 *tookMs, int timeoutMs)
{
    process.write((line + '\n').toUtf8());
    const QString verb = line.section(' ', 0, 0);
    const QString answer = waitForLine("ok " + verb + ' ', timeoutMs);
    if (tookMs)
        *tookMs = answer.isEmpty() ? -1 : answer.section(' ', 2, 2).toLongLong();
    return !answer.isEmpty();
}

QMap<QString, QString> Driver::state(int timeoutMs)
{
    process.write("state\n");
    return fields(waitForLine("state ", timeoutMs));
}

bool Driver::quit(int timeoutMs)
{
    process.write("quit\n");
    return finish(timeoutMs);
}

} // namespace E2e
