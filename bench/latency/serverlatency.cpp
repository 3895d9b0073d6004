// Server-mode latency: a click rendered by a sink, to the moment a phone has decoded the
// frame that holds it. The program (its streaming core with the real sound backend, in the
// end-to-end tests' server driver) and ffmpeg's RTP pipeline with the same codec settings
// capture the same monitor at the same time, so every click is measured by all of them;
// one receiver code decodes every stream. A recorder of the monitor in 1 ms blocks gives
// the reference time of each click. The program's EventSync switch goes on and off every
// few clicks, so that both settings are measured side by side; the program's own latency
// read-out is kept for each. See bench/README.md.
//   bench_serverlatency [--clicks N] [--json FILE]      (N clicks with EventSync on, N off)

#include "benchmain.h"
#include "clickplayer.h"
#include "distribution.h"
#include "e2esupport.h"
#include "monitorrecorder.h"
#include "opusreceiver.h"
#include "resultfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

constexpr double clickPeriodMs = 700.5; // walks the click across the 10 ms frame grid
constexpr double threshold = 0.1;       // the clicks peak at 0.5
constexpr double matchWindowMs = 350;
constexpr int warmUpClicks = 2;
// EventSync is on for this many clicks, then off for as many, and so on: with the click's
// half-millisecond walk each setting still meets every place in the frame.
constexpr int blockClicks = 8;
// A latency read-out covers the frames of the second before it, and that second may have
// begun up to a second earlier: it belongs to a setting only if it held that long.
constexpr qint64 readOutSpanMs = 2000;
// Opus's look-ahead in the audio application: what the decoded click lags the captured one.
constexpr double codecDelayMs = 6.5;
const QString sink = QStringLiteral("speakers");
const char *const phoneAddress = "127.0.0.2";
constexpr std::uint16_t audioPort = 8080;
constexpr std::uint16_t controlPort = 8081;

struct Pipeline
{
    QString key;
    QString label;
    std::unique_ptr<OpusReceiver> receiver;
    std::unique_ptr<E2e::Child> encoder; // ffmpeg; none for the program, driven apart
    // Per click the reference heard after the warm-up: its number and the latency, if the
    // pipeline heard it.
    std::vector<std::pair<int, std::optional<double>>> latencies;
};

QStringList ffmpegArguments(const QString &monitor, const QString &application, int port)
{
    return {"-hide_banner", "-loglevel",
            "error",        "-f",
            "pulse",        "-fragment_size",
            "480",          "-i",
            monitor,        "-c:a",
            "libopus",      "-application",
            application,    "-frame_duration",
            "10",           "-b:a",
            "128k",         "-f",
            "rtp",          QStringLiteral("rtp://127.0.0.1:%1").arg(port)};
}

// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    // After the name: state is field 3 of the file, utime and stime are 14 and 15.
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / sysconf(_SC_CLK_TCK);
}

bool eventSyncFor(int click)
{
    return click < warmUpClicks || (click - warmUpClicks) / blockClicks % 2 == 0;
}

// For each reference click, the first onset of the pipeline after it within the window. A
// click is numbered by when it was heard, since the reference too may miss one on a busy
// machine; it is heard less than a period after it was played.
void match(const std::vector<BenchClock::time_point> &reference, BenchClock::time_point began,
           Pipeline &pipeline)
{
    const auto &onsets = pipeline.receiver->onsets();
    for (const BenchClock::time_point &click : reference) {
        const int number = int(millisecondsBetween(began, click) / clickPeriodMs);
        if (number < warmUpClicks)
            continue;
        std::optional<double> latency;
        for (const auto &onset : onsets) {
            const double ms = millisecondsBetween(click, onset);
            if (ms >= 0 && ms < matchWindowMs) {
                latency = ms;
                break;
            }
        }
        pipeline.latencies.push_back({number, latency});
    }
}

// The latencies of the clicks for which select(click) holds; missed counts the others.
std::vector<double> heard(const Pipeline &pipeline, bool (*select)(int), int &missed)
{
    std::vector<double> latencies;
    missed = 0;
    for (const auto &[number, latency] : pipeline.latencies) {
        if (!select(number))
            continue;
        if (latency)
            latencies.push_back(*latency);
        else
            ++missed;
    }
    return latencies;
}

bool anyClick(int)
{
    return true;
}

bool eventSyncOn(int click)
{
    return eventSyncFor(click);
}

bool eventSyncOff(int click)
{
    return !eventSyncFor(click);
}

// The driver's latency read-outs, by the EventSync setting that held for the whole span they
// cover; from its "event eventsync=" and "event latency=" lines, on the driver's clock.
QMap<bool, std::vector<double>> readOuts(const QStringList &lines)
{
    QList<QPair<qint64, bool>> switches{{0, true}};
    QMap<bool, std::vector<double>> values;
    for (const QString &line : lines) {
        const QMap<QString, QString> fields = E2e::fields(line);
        const qint64 at = fields.value("at").toLongLong();
        if (fields.contains("eventsync")) {
            switches.append({at, fields.value("eventsync") == "1"});
        } else if (fields.contains("latency") && at >= readOutSpanMs + 1000) {
            if (switches.last().first <= at - readOutSpanMs)
                values[switches.last().second].push_back(fields.value("latency").toDouble());
        }
    }
    return values;
}

void print(const QString &label, const std::vector<double> &latencies, int missed,
           QJsonObject &results, const QString &key, int packets)
{
    const Distribution latency = distributionOf(latencies);
    std::printf("  %-34s median %6.2f  p90 %6.2f  max %6.2f  (%zu heard, %d missed, %d "
                "packets)\n",
                qPrintable(label), latency.median, latency.p90, latency.max, latency.count, missed,
                packets);
    QJsonObject entry = ResultFile::toJson(latency);
    entry.insert("missed", missed);
    entry.insert("label", label);
    results.insert(key, entry);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    using BenchMain::option;
    const int clicksEach = option("--clicks", "40").toInt();
    const int clicks = 2 * ((clicksEach + blockClicks - 1) / blockClicks) * blockClicks;
    const QString jsonPath = option("--json", "");

    if (!BenchMain::inPrivateNetwork())
        return 2;
    const QString monitor = E2e::monitorOf(sink);
    if (monitor.isEmpty()) {
        std::fprintf(stderr, "no sink '%s' on the sound server\n", qPrintable(sink));
        return 2;
    }

    std::vector<Pipeline> pipelines;
    pipelines.push_back({"ours",
                         "KestruneServer",
                         std::make_unique<OpusReceiver>(OpusReceiver::audioDatagram, threshold),
                         nullptr,
                         {}});
    const bool haveFfmpeg = !QStandardPaths::findExecutable("ffmpeg").isEmpty();
    if (haveFfmpeg) {
        for (const QString &application : {QStringLiteral("audio"), QStringLiteral("lowdelay")})
            pipelines.push_back({"ffmpeg_" + application,
                                 "ffmpeg RTP, -application " + application,
                                 std::make_unique<OpusReceiver>(OpusReceiver::rtp, threshold),
                                 std::make_unique<E2e::Child>(),
                                 {}});
    } else {
        std::fprintf(stderr, "ffmpeg not found: measuring the program alone\n");
    }

    MonitorRecorder reference(threshold);
    if (!reference.start(monitor.toStdString())) {
        std::fprintf(stderr, "cannot record %s\n", qPrintable(monitor));
        return 1;
    }
    if (!pipelines[0].receiver->start(phoneAddress, audioPort))
        return 1;
    for (std::size_t i = 1; i < pipelines.size(); ++i) {
        const int port = 5000 + 2 * int(i);
        if (!pipelines[i].receiver->start("127.0.0.1", std::uint16_t(port)) ||
            !pipelines[i].encoder->start(
                "ffmpeg", ffmpegArguments(monitor, pipelines[i].key.section('_', 1), port)))
            return 1;
    }
    E2e::Driver program;
    if (!program.start({"--device", sink, "--start", "--eventsync", "1"})) {
        std::fprintf(stderr, "the server driver did not start\n");
        return 1;
    }
    const auto hello = [&] {
        pipelines[0].receiver->sendFrom("127.0.0.1", controlPort, "Kestrune-Hello|bench phone");
    };
    hello();
    std::this_thread::sleep_for(std::chrono::seconds(1)); // every stream up and flowing

    ClickPlayer player;
    if (!player.start(sink.toStdString(), clickPeriodMs))
        return 1;
    const qint64 programPid = program.process.processId();
    const BenchClock::time_point clicksBegan = BenchClock::now();
    const auto at = [&](double clicksIn) {
        return clicksBegan + std::chrono::microseconds(qint64(clicksIn * clickPeriodMs * 1000));
    };
    // EventSync changes half a click period before the first click of each block; the
    // program's CPU time is read at every change and shared out to the setting that held.
    QMap<bool, double> cpu{{true, 0}, {false, 0}};
    QMap<bool, double> seconds{{true, 0}, {false, 0}};
    bool setting = true;
    double cpuAtChange = cpuSeconds(programPid);
    BenchClock::time_point changed = BenchClock::now();
    const auto account = [&] {
        const double now = cpuSeconds(programPid);
        cpu[setting] += now - cpuAtChange;
        seconds[setting] += millisecondsBetween(changed, BenchClock::now()) / 1000;
        cpuAtChange = now;
        changed = BenchClock::now();
    };
    auto nextHello = BenchClock::now() + std::chrono::seconds(2);
    for (int block = 0; block * blockClicks < clicks; ++block) {
        const auto blockStarts = at(warmUpClicks + block * blockClicks - 0.5);
        while (BenchClock::now() < blockStarts) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (BenchClock::now() >= nextHello) {
                hello(); // stays registered
                nextHello += std::chrono::seconds(2);
            }
        }
        account();
        setting = eventSyncFor(warmUpClicks + block * blockClicks);
        program.command(setting ? "eventsync 1" : "eventsync 0");
    }
    while (BenchClock::now() < at(warmUpClicks + clicks)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (BenchClock::now() >= nextHello) {
            hello();
            nextHello += std::chrono::seconds(2);
        }
    }
    account();
    player.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the last click arrives
    reference.stop();
    for (Pipeline &pipeline : pipelines) {
        if (pipeline.encoder)
            pipeline.encoder->terminate();
        pipeline.receiver->stop();
    }
    program.quit();

    QJsonObject results;
    for (Pipeline &pipeline : pipelines)
        match(reference.onsets(), clicksBegan, pipeline);
    std::printf("server-mode latency, click in the sink to the decoded frame (ms), %zu clicks, "
                "EventSync on and off by turns of %d:\n",
                reference.onsets().size() > std::size_t(warmUpClicks)
                    ? reference.onsets().size() - warmUpClicks
                    : 0,
                blockClicks);
    int missed = 0;
    const Pipeline &ours = pipelines[0];
    const std::vector<double> on = heard(ours, eventSyncOn, missed);
    print("KestruneServer, EventSync on", on, missed, results, "ours_on", ours.receiver->packets());
    const std::vector<double> off = heard(ours, eventSyncOff, missed);
    print("KestruneServer, EventSync off", off, missed, results, "ours_off",
          ours.receiver->packets());
    for (std::size_t i = 1; i < pipelines.size(); ++i) {
        const std::vector<double> all = heard(pipelines[i], anyClick, missed);
        print(pipelines[i].label, all, missed, results, pipelines[i].key,
              pipelines[i].receiver->packets());
    }

    // The read-out against the measurement: the codec's look-ahead and the receiver's decode
    // are outside what the program can see.
    const double receiverMs = distributionOf(ours.receiver->decodeMs()).median;
    const QMap<bool, std::vector<double>> readOut = readOuts(program.lines);
    std::printf("  the program's read-out (median of the values of each setting), against the "
                "median less %.1f ms codec delay and %.2f ms decode:\n",
                codecDelayMs, receiverMs);
    QJsonObject readOutResults;
    for (const bool eventSync : {true, false}) {
        const Distribution values = distributionOf(readOut.value(eventSync));
        const double measured = distributionOf(eventSync ? on : off).median;
        const double expected = measured - codecDelayMs - receiverMs;
        std::printf("    EventSync %-3s read-out %5.1f ms (%zu values), measured %5.2f ms, "
                    "difference %+.2f ms\n",
                    eventSync ? "on" : "off", values.median, values.count, expected,
                    values.median - expected);
        QJsonObject entry{{"read_out_ms", values.median},
                          {"values", int(values.count)},
                          {"expected_ms", expected}};
        readOutResults.insert(eventSync ? "on" : "off", entry);
    }
    results.insert("read_out", readOutResults);
    results.insert("receiver_decode_ms", receiverMs);
    const double shareOn = seconds[true] > 0 ? cpu[true] / seconds[true] : 0;
    const double shareOff = seconds[false] > 0 ? cpu[false] / seconds[false] : 0;
    std::printf("  the program's CPU meanwhile: %.2f %% of one core with EventSync on, %.2f %% "
                "off\n",
                100 * shareOn, 100 * shareOff);
    results.insert("program_cpu_share_on", shareOn);
    results.insert("program_cpu_share_off", shareOff);
    if (!jsonPath.isEmpty() && !ResultFile::write(jsonPath, {{"server_latency", results}}))
        return 1;
    return on.empty() || off.empty() ? 1 : 0;
}
