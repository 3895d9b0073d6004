// Player-mode latency, and what a real network does to player mode: an audio datagram made
// by a phone, to its sound appearing in the monitor of the sink the program plays into. The
// phone is simulated in this process. It sends a 1 kHz tone at a quarter of full scale with
// a burst at half of full scale every 700 ms, at its own pace, and the runs differ in how
// its datagrams reach the program: on time; each late by 0 to 5 ms or 0 to 20 ms, order kept;
// released together every 30 ms (Wi-Fi aggregation); and from a phone whose clock runs
// 0.1 % fast or slow. "On time" is the sink's own clock, measured first: a null sink's clock
// need not run at this machine's rate. The recording gives each burst's latency, the
// dropouts (1 ms or more of silence inside the tone) and the THD+N of the tone between
// bursts; the program's own latency read-out is sampled alongside. The queue's depth is
// what the latency holds beyond the sound server's own buffering, which pactl reports for
// the program's stream. See bench/README.md.
//   bench_playerlatency [--seconds S] [--drift-seconds D] [--runs KEY,...] [--driver PATH]
//                       [--name NAME] [--json FILE]
// --driver plays another build of the server driver (to compare with an older program);
// --name is the key its figures are filed under (default player_latency).

#include "audio/opuscodec.h"
#include "benchmain.h"
#include "burstsender.h"
#include "distribution.h"
#include "dropoutdetector.h"
#include "e2esupport.h"
#include "monitorrecorder.h"
#include "resultfile.h"
#include "support/playoutsimulation.h"
#include "tonequality.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr int sampleRate = 48000;
constexpr int burstEvery = 70;           // frames: a burst every 700 ms
constexpr double toneLevel = 0.25;       // the tone between bursts
constexpr double onsetThreshold = 0.375; // between the tone's peak and the burst's
constexpr double silenceLevel = 1e-3;    // -60 dBFS: a sample this quiet is silence
constexpr std::size_t dropoutFrames = sampleRate / 1000;
constexpr std::size_t windowFrames = thdWindowSamples; // 170 ms of tone for THD+N
constexpr int windowEvery = 25;                        // one window in 25: every 5 s
constexpr double codecDelayMs = 6.5; // where the decoded burst starts in its frame
const QString sink = QStringLiteral("cable_input");
const char *const phoneAddress = "127.0.0.2";

struct Run
{
    Run(QString key, double rate, double seconds, double maxLatenessMs = 0, double burstMs = 0)
        : key(std::move(key)), rate(rate), seconds(seconds), maxLatenessMs(maxLatenessMs),
          burstMs(burstMs)
    {
    }

    QString key;
    double rate;
    double seconds;
    double maxLatenessMs;
    double burstMs;

    std::vector<double> at;        // seconds since the first burst
    std::vector<double> latencies; // ms, in the same order
    std::vector<double> serverMs;  // the sound server's buffering of the program's stream
    std::vector<double> readoutAt; // seconds since the start
    std::vector<double> readoutMs; // the program's own latency read-out
    std::size_t dropouts = 0;
    double silenceMs = 0;
    std::vector<double> thdN; // dB, one for each window analysed
    double phoneOverSink = 0; // the phone's clock against the sink's during the run
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

// Pairs each heard burst with the last one made before it.
void pair(const std::vector<BenchClock::time_point> &made,
          const std::vector<BenchClock::time_point> &heard, Run &run)
{
    if (made.empty())
        return;
    for (const auto &onset : heard) {
        const BenchClock::time_point *last = nullptr;
        for (const auto &time : made)
            if (time <= onset)
                last = &time;
        const double ms = last ? millisecondsBetween(*last, onset) : -1;
        if (ms < 0 || ms > 600)
            continue;
        run.at.push_back(millisecondsBetween(made.front(), *last) / 1000);
        run.latencies.push_back(ms);
    }
}

// The sink's frames per second of this machine's clock, from a recording of its monitor.
double sinkRate(double seconds)
{
    MonitorRecorder recorder(onsetThreshold);
    if (!recorder.start(E2e::monitorOf(sink).toStdString()))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
    recorder.stop();
    return recorder.framesPerSecond();
}

// Windows of the tone between bursts, gathered on the recording thread: every windowEvery-th
// window whose peak is the tone's, neither a burst nor silence.
class ToneWindows
{
public:
    void feed(const float *stereo, std::size_t frames)
    {
        for (std::size_t i = 0; i < frames; ++i) {
            window.push_back(stereo[2 * i]);
            peak = std::max(peak, std::abs(stereo[2 * i]));
            if (window.size() < windowFrames)
                continue;
            if (peak > 0.8f * toneLevel && peak < 1.2f * toneLevel && clean++ % windowEvery == 2)
                kept.push_back(window);
            window.clear();
            peak = 0;
        }
    }
    // Read after the recording stopped.
    const std::vector<std::vector<float>> &windows() const { return kept; }

private:
    std::vector<float> window;
    float peak = 0;
    int clean = 0;
    std::vector<std::vector<float>> kept;
};

bool measure(Run &run, double sinkClock, const QString &driver)
{
    E2e::Driver program;
    if (!program.start({"--output", sink, "--connect", phoneAddress}, driver))
        return false;
    MonitorRecorder recorder(onsetThreshold);
    DropoutDetector dropouts(silenceLevel, dropoutFrames);
    ToneWindows windows;
    recorder.setBlockHandler([&](const float *stereo, std::size_t frames) {
        dropouts.feed(stereo, frames);
        windows.feed(stereo, frames);
    });
    BurstSender phone(burstEvery,
                      SendPattern{run.rate * sinkClock, run.maxLatenessMs, run.burstMs, 1},
                      toneLevel);
    if (!recorder.start(E2e::monitorOf(sink).toStdString()) ||
        !phone.start(phoneAddress, "127.0.0.1", 8080))
        return false;
    const auto begin = BenchClock::now();
    const auto end = begin + std::chrono::milliseconds(qint64(run.seconds * 1000));
    while (BenchClock::now() < end) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double buffering = serverBufferingMs();
        if (buffering >= 0)
            run.serverMs.push_back(buffering);
        // An older driver has no read-out.
        const QString readout = program.state().value("latency");
        if (!readout.isEmpty() && readout.toInt() > 0) {
            run.readoutAt.push_back(millisecondsBetween(begin, BenchClock::now()) / 1000);
            run.readoutMs.push_back(readout.toDouble());
        }
    }
    phone.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // the last burst plays
    recorder.stop();
    program.quit();
    run.phoneOverSink = run.rate * sinkClock * sampleRate / recorder.framesPerSecond();
    run.dropouts = dropouts.dropouts();
    run.silenceMs = double(dropouts.silentFrames()) * 1000 / sampleRate;
    for (const std::vector<float> &window : windows.windows())
        run.thdN.push_back(thdPlusNoiseDb(window, sampleRate));
    pair(phone.burstTimes(), recorder.onsets(), run);
    return !run.latencies.empty();
}

// THD+N of the tone through the codec alone: encoded and decoded as the phone and the
// program do, with nothing in between.
double codecThdN()
{
    OpusCodec encoder;
    OpusCodec decoder;
    encoder.initEncoder(sampleRate, 2, 128000);
    decoder.initDecoder(sampleRate, 2);
    std::vector<std::int16_t> frame(2 * 480);
    std::vector<std::int16_t> decoded(2 * 5760);
    std::vector<float> left;
    for (int n = 0; n < 100; ++n) {
        for (int i = 0; i < 480; ++i)
            frame[2 * i] = frame[2 * i + 1] = std::int16_t(std::lround(
                toneLevel * 32767 * std::sin(2 * M_PI * 1000 * (n * 480 + i) / sampleRate)));
        const std::vector<unsigned char> packet = encoder.encode(frame.data(), 480);
        const int frames = decoder.decode(packet.data(), int(packet.size()), decoded.data(), 5760);
        for (int i = 0; i < frames; ++i)
            left.push_back(float(decoded[2 * i]) / 32768.0f);
    }
    // Past the codec's start, as in the recordings.
    return thdPlusNoiseDb(std::vector<float>(left.end() - windowFrames, left.end()), sampleRate);
}

// THD+N of the player alone: its jitter buffer and resampler fed a 1 kHz tone in plain 16-bit
// packets by a simulated phone 0.1 % fast whose datagrams come up to 20 ms late, so that the
// pace never stops adapting; no codec, no sound server, every window from the start.
Distribution playerAloneThdN(double seconds)
{
    PlayoutSimulation simulation(
        {sampleRate,
         2,
         SendPattern{1.001, 20, 0, 1},
         1'000'000,
         0,
         [](std::int64_t frame) {
             return std::int16_t(std::lround(
                 toneLevel * 32767 * std::sin(2 * M_PI * 1000 * double(frame) / sampleRate)));
         },
         {},
         {}});
    std::vector<float> window;
    std::vector<double> results;
    bool started = false;
    simulation.run(seconds, [&](const std::int16_t *samples, std::uint32_t frames, std::int64_t) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            started = started || samples[2 * i] != 0;
            if (!started)
                continue;
            window.push_back(float(samples[2 * i]) / 32768.0f);
            if (window.size() == windowFrames) {
                results.push_back(thdPlusNoiseDb(window, sampleRate));
                window.clear();
            }
        }
    });
    return distributionOf(results);
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

// The median latency of the bursts made within [from, to) seconds.
double medianBetween(const Run &run, double from, double to)
{
    std::vector<double> values;
    for (std::size_t i = 0; i < run.at.size(); ++i)
        if (run.at[i] >= from && run.at[i] < to)
            values.push_back(run.latencies[i]);
    return distributionOf(values).median;
}

// The read-out once the first 30 s (or third of the run) have settled it.
Distribution settledReadout(const Run &run)
{
    std::vector<double> values;
    for (std::size_t i = 0; i < run.readoutAt.size(); ++i)
        if (run.readoutAt[i] >= std::min(30.0, run.seconds / 3))
            values.push_back(run.readoutMs[i]);
    return distributionOf(values);
}

QJsonObject toJson(const Run &run)
{
    const Distribution latency = distributionOf(run.latencies);
    const double serverMs = distributionOf(run.serverMs).median;
    const double span = run.at.back();
    const double minutes = run.seconds / 60;
    QJsonObject entry = ResultFile::toJson(latency);
    entry.insert("rate", run.rate);
    entry.insert("max_lateness_ms", run.maxLatenessMs);
    entry.insert("burst_ms", run.burstMs);
    entry.insert("phone_over_sink", run.phoneOverSink);
    entry.insert("seconds", run.seconds);
    entry.insert("first_median", medianBetween(run, 0, std::min(10.0, span / 3)));
    entry.insert("last_median", medianBetween(run, span - std::min(10.0, span / 3), span + 1));
    entry.insert("slope_ms_per_min", slopePerMinute(run));
    entry.insert("server_buffering_ms", serverMs);
    entry.insert("queue_ms", latency.median - serverMs - codecDelayMs);
    entry.insert("dropouts", qint64(run.dropouts));
    entry.insert("dropouts_per_minute", double(run.dropouts) / minutes);
    entry.insert("silence_ms_per_minute", run.silenceMs / minutes);
    if (!run.thdN.empty()) {
        entry.insert("thd_n_median_db", distributionOf(run.thdN).median);
        entry.insert("thd_n_worst_db", distributionOf(run.thdN).max);
    }
    const Distribution readout = settledReadout(run);
    if (readout.count > 0) {
        entry.insert("readout_median_ms", readout.median);
        entry.insert("readout_min_ms",
                     *std::min_element(run.readoutMs.end() - std::ptrdiff_t(readout.count),
                                       run.readoutMs.end()));
        entry.insert("readout_max_ms", readout.max);
    }
    QJsonArray series;
    for (std::size_t i = 0; i < run.at.size(); ++i)
        series.append(QJsonArray{run.at[i], run.latencies[i]});
    entry.insert("series", series);
    return entry;
}

void print(const Run &run, const QJsonObject &entry)
{
    const Distribution latency = distributionOf(run.latencies);
    std::printf("  %-8s %5.0f s: median %6.2f  p95 %6.2f  max %6.2f  (%zu bursts); "
                "dropouts %zu (%.1f a minute, %.0f ms of silence a minute)\n",
                qPrintable(run.key), run.seconds, latency.median, latency.p95, latency.max,
                latency.count, run.dropouts, entry["dropouts_per_minute"].toDouble(),
                entry["silence_ms_per_minute"].toDouble());
    std::printf("    phone against sink %+.3f %%; first %.2f, last %.2f, slope %+.1f ms/min; "
                "sound server holds %.1f, queue about %.1f",
                100 * (run.phoneOverSink - 1), entry["first_median"].toDouble(),
                entry["last_median"].toDouble(), entry["slope_ms_per_min"].toDouble(),
                entry["server_buffering_ms"].toDouble(), entry["queue_ms"].toDouble());
    if (entry.contains("thd_n_median_db"))
        std::printf("; THD+N %.1f dB (worst %.1f, %zu windows)",
                    entry["thd_n_median_db"].toDouble(), entry["thd_n_worst_db"].toDouble(),
                    run.thdN.size());
    if (entry.contains("readout_median_ms"))
        std::printf("; the program reads %.0f ms (%.0f to %.0f)",
                    entry["readout_median_ms"].toDouble(), entry["readout_min_ms"].toDouble(),
                    entry["readout_max_ms"].toDouble());
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    using BenchMain::option;
    const double seconds = option("--seconds", "60").toDouble();
    const double driftSeconds = option("--drift-seconds", "600").toDouble();
    const QStringList wanted = option("--runs", "").split(',', Qt::SkipEmptyParts);
    const QString driver = option("--driver", "");
    const QString name = option("--name", "player_latency");
    const QString jsonPath = option("--json", "");

    if (!BenchMain::inPrivateNetwork())
        return 2;

    std::vector<Run> runs = {{"on_time", 1.0, seconds},     {"late_5", 1.0, seconds, 5},
                             {"late_20", 1.0, seconds, 20}, {"burst_30", 1.0, seconds, 0, 30},
                             {"fast", 1.001, driftSeconds}, {"slow", 0.999, driftSeconds}};
    const double rate = sinkRate(std::min(10.0, seconds + 1));
    if (rate <= 0) {
        std::fprintf(stderr, "cannot record the monitor of %s\n", qPrintable(sink));
        return 1;
    }
    double sinkClock = rate / sampleRate;
    const double codec = codecThdN();
    QJsonObject results{{"sink_clock", sinkClock}, {"codec_thd_n_db", codec}};
    std::printf("player mode, %s: datagram made to its sound in the sink's monitor (ms); the "
                "sink plays %.1f frames a second (%+.3f %%), the phone's clock follows it; "
                "THD+N of the codec alone %.1f dB:\n",
                driver.isEmpty() ? "this build" : qPrintable(driver), rate, 100 * (sinkClock - 1),
                codec);
    if (driver.isEmpty()) {
        const Distribution alone = playerAloneThdN(seconds);
        results.insert("player_alone_thd_n_median_db", alone.median);
        results.insert("player_alone_thd_n_worst_db", alone.max);
        std::printf("  THD+N of the player alone (jitter buffer and resampler, no codec), a "
                    "phone 0.1 %% fast and late by up to 20 ms, %.0f s: median %.1f dB, worst "
                    "%.1f dB (%zu windows)\n",
                    seconds, alone.median, alone.max, alone.count);
    }
    for (Run &run : runs) {
        if (!wanted.isEmpty() && !wanted.contains(run.key))
            continue;
        if (!measure(run, sinkClock, driver)) {
            std::fprintf(stderr, "player-mode run '%s' heard nothing\n", qPrintable(run.key));
            return 1;
        }
        // The sink runs a little faster with the program's stream in it than alone: the
        // runs after this one follow its clock as this run found it.
        sinkClock /= run.phoneOverSink / run.rate;
        const QJsonObject entry = toJson(run);
        print(run, entry);
        results.insert(run.key, entry);
    }
    if (!jsonPath.isEmpty() && !ResultFile::write(jsonPath, {{name, results}}))
        return 1;
    return 0;
}
