// Server-mode latency: a click rendered by a sink, to the moment a phone has decoded the
// frame that holds it. The program (its streaming core with the real sound backend, in the
// end-to-end tests' server driver) and ffmpeg's RTP pipeline with the same codec settings
// capture the same monitor at the same time, so every click is measured by all of them;
// one receiver code decodes every stream. A recorder of the monitor in 1 ms blocks gives
// the reference time of each click. See bench/README.md.
//   bench_serverlatency [--clicks N] [--json FILE]

#include "benchmain.h"
#include "clickplayer.h"
#include "distribution.h"
#include "e2esupport.h"
#include "monitorrecorder.h"
#include "opusreceiver.h"
#include "resultfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

constexpr double clickPeriodMs = 700.5; // walks the click across the 10 ms frame grid
constexpr double threshold = 0.1;       // the clicks peak at 0.5
constexpr double matchWindowMs = 350;
constexpr int warmUpClicks = 2;
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
    std::vector<double> latencies;
    int missed = 0;
};

QStringList ffmpegArguments(const QString &monitor, const QString &application, int port)
{
    return {"-hide_banner", "-loglevel",     "error",       "-f",         "pulse",
            "-fragment_size", "480",         "-i",          monitor,      "-c:a",
            "libopus",       "-application", application,   "-frame_duration", "10",
            "-b:a",          "128k",         "-f",          "rtp",
            QStringLiteral("rtp://127.0.0.1:%1").arg(port)};
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

// For each reference click, the first onset of the pipeline after it within the window.
void match(const std::vector<BenchClock::time_point> &reference, Pipeline &pipeline)
{
    const auto &onsets = pipeline.receiver->onsets();
    for (std::size_t i = warmUpClicks; i < reference.size(); ++i) {
        bool found = false;
        for (const auto &onset : onsets) {
            const double ms = millisecondsBetween(reference[i], onset);
            if (ms >= 0 && ms < matchWindowMs) {
                pipeline.latencies.push_back(ms);
                found = true;
                break;
            }
        }
        if (!found)
            ++pipeline.missed;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    using BenchMain::option;
    const int clicks = option("--clicks", "40").toInt();
    const QString jsonPath = option("--json", "");

    if (!BenchMain::inPrivateNetwork())
        return 2;
    const QString monitor = E2e::monitorOf(sink);
    if (monitor.isEmpty()) {
        std::fprintf(stderr, "no sink '%s' on the sound server\n", qPrintable(sink));
        return 2;
    }

    std::vector<Pipeline> pipelines;
    pipelines.push_back({"ours", "KestruneServer",
                         std::make_unique<OpusReceiver>(OpusReceiver::audioDatagram, threshold),
                         nullptr, {}, 0});
    const bool haveFfmpeg = !QStandardPaths::findExecutable("ffmpeg").isEmpty();
    if (haveFfmpeg) {
        for (const QString &application : {QStringLiteral("audio"), QStringLiteral("lowdelay")})
            pipelines.push_back({"ffmpeg_" + application,
                                 "ffmpeg RTP, -application " + application,
                                 std::make_unique<OpusReceiver>(OpusReceiver::rtp, threshold),
                                 std::make_unique<E2e::Child>(), {}, 0});
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
    if (!program.start({"--device", sink, "--start"})) {
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
    const double cpuBefore = cpuSeconds(programPid);
    const BenchClock::time_point clicksBegan = BenchClock::now();
    const auto end = BenchClock::now() +
                     std::chrono::milliseconds(qint64((clicks + warmUpClicks) * clickPeriodMs));
    while (BenchClock::now() < end) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        hello(); // stays registered
    }
    player.stop();
    const double programCpuShare = (cpuSeconds(programPid) - cpuBefore) /
                                   (millisecondsBetween(clicksBegan, BenchClock::now()) / 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the last click arrives
    reference.stop();
    for (Pipeline &pipeline : pipelines) {
        if (pipeline.encoder)
            pipeline.encoder->terminate();
        pipeline.receiver->stop();
    }
    program.quit();

    QJsonObject results;
    std::printf("server-mode latency, click in the sink to the decoded frame (ms), %zu clicks:\n",
                reference.onsets().size() > std::size_t(warmUpClicks)
                    ? reference.onsets().size() - warmUpClicks
                    : 0);
    for (Pipeline &pipeline : pipelines) {
        match(reference.onsets(), pipeline);
        const Distribution latency = distributionOf(pipeline.latencies);
        std::printf("  %-32s median %6.2f  p90 %6.2f  max %6.2f  (%zu heard, %d missed, %d "
                    "packets)\n",
                    qPrintable(pipeline.label), latency.median, latency.p90, latency.max,
                    latency.count, pipeline.missed, pipeline.receiver->packets());
        QJsonObject entry = ResultFile::toJson(latency);
        entry.insert("missed", pipeline.missed);
        entry.insert("label", pipeline.label);
        results.insert(pipeline.key, entry);
    }
    std::printf("  the program's CPU meanwhile: %.2f %% of one core\n", 100 * programCpuShare);
    results.insert("program_cpu_share", programCpuShare);
    if (!jsonPath.isEmpty() && !ResultFile::write(jsonPath, {{"server_latency", results}}))
        return 1;
    return pipelines[0].latencies.empty() ? 1 : 0;
}
