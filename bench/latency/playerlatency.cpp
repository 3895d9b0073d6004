// Player-mode latency: an audio datagram sent by a phone, to its tone appearing in the
// monitor of the sink the program plays into. The phone is simulated in this process: it
// sends a tone burst every 700 ms in an otherwise silent stream, at its own pace, first on
// time, then with its clock 0.1 % fast and 0.1 % slow, to show where the queue between the
// datagrams and the device goes. "On time" is the sink's own clock, measured first: a null
// sink's clock need not run at this machine's rate. The queue's depth is what the latency holds beyond the
// sound server's own buffering, which pactl reports for the program's stream. See
// bench/README.md.
//   bench_playerlatency [--seconds S] [--drift-seconds D] [--json FILE]

#include "benchmain.h"
#include "burstsender.h"
#include "distribution.h"
#include "e2esupport.h"
#include "monitorrecorder.h"
#include "resultfile.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QRegularExpression>

#include <cstdio>
#include <thread>

namespace {

constexpr int burstEvery = 70; // frames: a burst every 700 ms
constexpr double threshold = 0.1;
constexpr double codecDelayMs = 6.5; // where the decoded burst starts in its frame
const QString sink = QStringLiteral("cable_input");
const char *const phoneAddress = "127.0.0.2";

struct Run
{
    QString key;
    double rate;
    double seconds;
    std::vector<double> at;        // seconds since the first burst
    std::vector<double> latencies; // ms, in the same order
    std::vector<double> serverMs;  // the sound server's buffering of the program's stream
    double phoneOverSink = 0;      // the phone's clock against the sink's during the run
};

// The buffer and sink latency pactl reports for the program's stream, in ms; -1 when the
// stream is not there.
double serverBufferingMs()
{
    for (const QString &block : E2e::pactl({"list", "sink-inputs"}).split("Sink Input #")) {
        if (!block.contains("media.name = \"Player\""))
            continue;
        const auto usec = [&](const QString &name) {
            return QRegularExpression(name + ": (\\d+) usec").match(block).captured(1).toDouble();
        };
        return (usec("Buffer Latency") + usec("Sink Latency")) / 1000;
    }
    return -1;
}

// Pairs each heard burst with the last one sent before it.
void pair(const std::vector<BenchClock::time_point> &sent,
          const std::vector<BenchClock::time_point> &heard, Run &run)
{
    if (sent.empty())
        return;
    for (const auto &onset : heard) {
        const BenchClock::time_point *last = nullptr;
        for (const auto &time : sent)
            if (time <= onset)
                last = &time;
        const double ms = last ? millisecondsBetween(*last, onset) : -1;
        if (ms < 0 || ms > 600)
            continue;
        run.at.push_back(millisecondsBetween(sent.front(), *last) / 1000);
        run.latencies.push_back(ms);
    }
}

// The sink's frames per second of this machine's clock, from a recording of its monitor.
double sinkRate(double seconds)
{
    MonitorRecorder recorder(threshold);
    if (!recorder.start(E2e::monitorOf(sink).toStdString()))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
    recorder.stop();
    return recorder.framesPerSecond();
}

bool measure(Run &run, double sinkClock)
{
    E2e::Driver program;
    if (!program.start({"--output", sink, "--connect", phoneAddress}))
        return false;
    MonitorRecorder recorder(threshold);
    BurstSender phone(burstEvery, run.rate * sinkClock);
    if (!recorder.start(E2e::monitorOf(sink).toStdString()) ||
        !phone.start(phoneAddress, "127.0.0.1", 8080))
        return false;
    const auto end = BenchClock::now() + std::chrono::milliseconds(qint64(run.seconds * 1000));
    while (BenchClock::now() < end) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double buffering = serverBufferingMs();
        if (buffering >= 0)
            run.serverMs.push_back(buffering);
    }
    phone.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // the last burst plays
    recorder.stop();
    program.quit();
    run.phoneOverSink = run.rate * sinkClock * 48000 / recorder.framesPerSecond();
    pair(phone.burstTimes(), recorder.onsets(), run);
    return !run.latencies.empty();
}

// Least-squares slope of latency over time, in ms per minute.
double slopePerMinute(const Run &run)
{
    const double n = double(run.at.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < run.at.size(); ++i) {
        sx += run.at[i];
        sy += run.latencies[i];
        sxx += run.at[i] * run.at[i];
        sxy += run.at[i] * run.latencies[i];
    }
    const double denominator = n * sxx - sx * sx;
    return denominator > 0 ? 60 * (n * sxy - sx * sy) / denominator : 0;
}

// The median latency of the bursts sent within [from, to) seconds.
double medianBetween(const Run &run, double from, double to)
{
    std::vector<double> values;
    for (std::size_t i = 0; i < run.at.size(); ++i)
        if (run.at[i] >= from && run.at[i] < to)
            values.push_back(run.latencies[i]);
    return distributionOf(values).median;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    using BenchMain::option;
    const double seconds = option("--seconds", "30").toDouble();
    const double driftSeconds = option("--drift-seconds", "60").toDouble();
    const QString jsonPath = option("--json", "");

    if (!BenchMain::inPrivateNetwork())
        return 2;

    std::vector<Run> runs = {{"on_time", 1.0, seconds, {}, {}, {}},
                             {"fast", 1.001, driftSeconds, {}, {}, {}},
                             {"slow", 0.999, driftSeconds, {}, {}, {}}};
    const double rate = sinkRate(std::min(10.0, seconds + 1));
    if (rate <= 0) {
        std::fprintf(stderr, "cannot record the monitor of %s\n", qPrintable(sink));
        return 1;
    }
    double sinkClock = rate / 48000;
    QJsonObject results{{"sink_clock", sinkClock}};
    std::printf("player-mode latency, datagram sent to tone in the sink's monitor (ms); the sink "
                "plays %.1f frames a second (%+.3f %%), the phone's clock follows it:\n",
                rate, 100 * (sinkClock - 1));
    for (Run &run : runs) {
        if (!measure(run, sinkClock)) {
            std::fprintf(stderr, "player-mode run '%s' heard nothing\n", qPrintable(run.key));
            return 1;
        }
        // The sink runs a little faster with the program's stream in it than alone: the
        // runs after this one follow its clock as this run found it.
        sinkClock /= run.phoneOverSink / run.rate;
        const Distribution latency = distributionOf(run.latencies);
        const double serverMs = distributionOf(run.serverMs).median;
        const double queueMs = latency.median - serverMs - codecDelayMs;
        const double span = run.at.back();
        const double early = medianBetween(run, 0, std::min(10.0, span / 3));
        const double late = medianBetween(run, span - std::min(10.0, span / 3), span + 1);
        const double slope = slopePerMinute(run);
        std::printf("  sender clock %-6s %5.0f s: median %6.2f  p90 %6.2f  max %6.2f  (%zu bursts)"
                    "\n    phone against sink %+.3f %%; first %.2f, last %.2f, slope %+.1f ms/min; "
                    "sound server holds %.1f, pending queue about %.1f\n",
                    qPrintable(run.key), run.seconds, latency.median, latency.p90, latency.max,
                    latency.count, 100 * (run.phoneOverSink - 1), early, late, slope, serverMs,
                    queueMs);
        QJsonObject entry = ResultFile::toJson(latency);
        entry.insert("rate", run.rate);
        entry.insert("phone_over_sink", run.phoneOverSink);
        entry.insert("seconds", run.seconds);
        entry.insert("first_median", early);
        entry.insert("last_median", late);
        entry.insert("slope_ms_per_min", slope);
        entry.insert("server_buffering_ms", serverMs);
        entry.insert("queue_ms", queueMs);
        QJsonArray series;
        for (std::size_t i = 0; i < run.at.size(); ++i)
            series.append(QJsonArray{run.at[i], run.latencies[i]});
        entry.insert("series", series);
        results.insert(run.key, entry);
    }
    if (!jsonPath.isEmpty() && !ResultFile::write(jsonPath, {{"player_latency", results}}))
        return 1;
    return 0;
}
