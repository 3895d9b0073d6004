#!/usr/bin/env python3
"""Puts the figures of one benchmark run into one table, with the date and the machine.

  report.py OUT_DIR RESULTS_MD

OUT_DIR holds what bench/measure.sh left there: NAME.json figures and NAME.txt output.
Prints the table and writes RESULTS_MD: the table, the machine, and each benchmark's own
output; and next to it the same name ending in .json with every figure. A figure that was not measured shows as "not measured".
"""
import datetime
import glob
import json
import os
import platform
import subprocess
import sys

# The sender patterns of the player benchmark, in the order the tables show them, with the
# latency each must meet (median, ms; None: no target).
PATTERNS = (("on_time", "on time", 40), ("late_5", "each datagram late by 0-5 ms", None),
            ("late_20", "late by 0-20 ms, order kept", 70),
            ("burst_30", "released in bursts every 30 ms", None))
DRIFTS = (("fast", "sender clock 0.1 % fast"), ("slow", "sender clock 0.1 % slow"))
LEVEL_SPREAD_MS = 10  # the level within +-5 ms of its target
THD_N_TARGET_DB = -60
SERVER_TARGET_MS = 13  # server-mode median with EventSync
READ_OUT_TOLERANCE_MS = 3
CPU_BUDGET = 1.10  # streaming with EventSync against the plain poll


def load(out_dir):
    figures = {}
    for path in sorted(glob.glob(os.path.join(out_dir, "*.json"))):
        with open(path) as source:
            figures.update(json.load(source))
    return figures


def verdict(met):
    return "met" if met else "**missed**"


def spread(d):
    return f"{d['median']:.2f} / {d['p90']:.2f} / {d['max']:.2f} ms ({d['count']} clicks)"


def rows(f):
    """(benchmark, figure, result, target) rows for whatever was measured."""
    table = []
    server = f.get("server_latency", {})
    ours = server.get("ours_on")
    audio = server.get("ffmpeg_audio")
    if ours:
        target = f"median ≤ {SERVER_TARGET_MS} ms"
        met = ours["median"] <= SERVER_TARGET_MS
        if audio:
            target = f"median ≤ ffmpeg (audio) and ≤ {SERVER_TARGET_MS} ms"
            met = met and ours["median"] <= audio["median"]
        table.append(("Server-mode latency", "KestruneServer, EventSync on, median / p90 / max",
                      spread(ours), f"{target}: {verdict(met)}"))
    if "ours_off" in server:
        table.append(("Server-mode latency",
                      "KestruneServer, EventSync off (the 10 ms poll), median / p90 / max",
                      spread(server["ours_off"]), ""))
    for key, label in (("ffmpeg_audio", "ffmpeg RTP, -application audio"),
                       ("ffmpeg_lowdelay", "ffmpeg RTP, -application lowdelay (information)")):
        if key in server:
            table.append(("Server-mode latency", f"{label}, median / p90 / max",
                          spread(server[key]), ""))
    for key, label in (("on", "EventSync on"), ("off", "EventSync off")):
        readout = server.get("read_out", {}).get(key)
        if not readout:
            continue
        difference = readout["read_out_ms"] - readout["expected_ms"]
        table.append(("Server-mode latency",
                      f"the program's read-out, {label} (against median − codec − decode)",
                      f"{readout['read_out_ms']:.1f} ms against {readout['expected_ms']:.2f} ms "
                      f"({readout['values']} read-outs)",
                      f"within ±{READ_OUT_TOLERANCE_MS} ms: "
                      f"{verdict(abs(difference) <= READ_OUT_TOLERANCE_MS)} ({difference:+.2f})"))

    table += player_rows(f.get("player_latency", {}))

    cost = f.get("send_cost")
    if cost:
        table.append(("CPU per frame", "sending path ÷ bare opus_encode (callgrind instructions)",
                      f"{cost['ratio']:.4f} ({cost['path_per_frame']:,} ÷ "
                      f"{cost['bare_per_frame']:,} a frame)",
                      f"≤ 1.05: {verdict(cost['ratio'] <= 1.05)}"))
    cpu = f.get("program_cpu")
    if cpu:
        table.append(("CPU, whole program", "idle, window offscreen",
                      f"{100 * cpu['idle_share']:.2f} % of one core", ""))
        polling = cpu.get("streaming_share_polling")
        target = ""
        if polling:
            ratio = cpu["streaming_share"] / polling
            target = (f"≤ {CPU_BUDGET:.2f} × without EventSync: {verdict(ratio <= CPU_BUDGET)} "
                      f"({ratio:.2f} ×)")
        table.append(("CPU, whole program", "streaming music to one phone, EventSync on",
                      f"{100 * cpu['streaming_share']:.2f} % of one core", target))
        if polling:
            table.append(("CPU, whole program", "streaming music to one phone, EventSync off",
                          f"{100 * polling:.2f} % of one core", ""))

    fan = f.get("fan_out")
    if fan:
        times = " / ".join(f"{us:.2f}" for us in fan["send_us"].values())
        counts = "/".join(fan["send_us"].keys())
        table.append(("Fan-out", f"sendToTargets per frame, {counts} phones", f"{times} µs", ""))
        phones = fan["phones_within_20_percent"]
        table.append(("Fan-out", "phones within 20 % of the 10 ms period (encode + send)",
                      f"{phones:.0f}", f"≥ 256: {verdict(phones >= 256)}"))

    if cpu:
        table.append(("Memory", "resident after start (offscreen)",
                      f"{cpu['rss_after_start_mb']:.1f} MB", ""))
    for key, label in (("program_memory_streaming", "streaming to 4 phones"),
                       ("program_memory_player", "player mode")):
        if key not in f:
            continue
        m = f[key]
        table.append(("Memory", f"{label}, {m['minutes']:g} min",
                      f"{m['first_mb']:.1f} → {m['end_mb']:.1f} MB (after the first minute "
                      f"{m['warm_mb']:.1f}, max {m['max_mb']:.1f})",
                      f"no growth: {m['growth_mb']:+.2f} MB, "
                      f"{verdict(abs(m['growth_mb']) <= 0.5)}"))
    return table


def player_rows(player):
    """The player benchmark's rows: latency and dropouts per sender pattern, the drift runs,
    and the tone's THD+N."""
    table = []
    for key, label, target in PATTERNS:
        if key not in player:
            continue
        run = player[key]
        met = run["dropouts"] == 0
        goal = "no dropout"
        if target:
            goal += f", median ≤ {target} ms"
            met = met and run["median"] <= target
        table.append(("Player mode", f"{label}, {run['seconds']:.0f} s: latency median / p95; "
                      "dropouts", f"{run['median']:.1f} / {run['p95']:.1f} ms; "
                      f"{run['dropouts']} ({run['silence_ms_per_minute']:.0f} ms of silence a "
                      "minute)", f"{goal}: {verdict(met)}"))
    if "on_time" in player:
        run = player["on_time"]
        table.append(("Player mode", "on time: queue (latency − sound server − codec)",
                      f"{run['queue_ms']:.1f} ms (sound server holds "
                      f"{run['server_buffering_ms']:.1f} ms)", ""))
    for key, label in DRIFTS:
        if key not in player:
            continue
        run = player[key]
        label += f" (against the sink: {100 * (run['phone_over_sink'] - 1):+.3f} %)"
        result = (f"{run['first_median']:.1f} → {run['last_median']:.1f} ms, "
                  f"{run['slope_ms_per_min']:+.1f} ms/min; dropouts {run['dropouts']}")
        met = run["dropouts"] == 0
        if "readout_median_ms" in run:
            spread = run["readout_max_ms"] - run["readout_min_ms"]
            result += (f"; level read {run['readout_min_ms']:.0f} to "
                       f"{run['readout_max_ms']:.0f} ms")
            met = met and spread <= LEVEL_SPREAD_MS
        table.append(("Player mode", f"{label}, {run['seconds'] / 60:.0f} min", result,
                      f"no drop, level within ±5 ms: {verdict(met)}"))
    if "player_alone_thd_n_worst_db" in player:
        worst = player["player_alone_thd_n_worst_db"]
        table.append(("Player mode", "THD+N of a 1 kHz tone through the jitter buffer and "
                      "resampler alone, the pace adapting, median / worst window",
                      f"{player['player_alone_thd_n_median_db']:.1f} / {worst:.1f} dB",
                      f"≤ {THD_N_TARGET_DB} dB: {verdict(worst <= THD_N_TARGET_DB)}"))
    played = [run["thd_n_worst_db"] for run in player.values()
              if isinstance(run, dict) and "thd_n_worst_db" in run]
    if played:
        table.append(("Player mode", "THD+N of the played tone in the sink, worst window of all "
                      "runs (Opus at 128 kbit/s alone: "
                      f"{player['codec_thd_n_db']:.1f} dB, the floor of any player)",
                      f"{max(played):.1f} dB", ""))
    return table


def before_and_after(f):
    """The sender patterns with the program before the jitter buffer and with it, when the
    run measured both."""
    before, after = f.get("player_latency_before"), f.get("player_latency", {})
    if not before:
        return ""
    lines = ["| Sender | Dropouts a minute, before → after | Silence a minute, before → after "
             "| Latency median (p95), before → after |", "|---|---|---|---|"]
    for key, label, _ in PATTERNS:
        if key not in before or key not in after:
            continue
        b, a = before[key], after[key]
        lines.append(f"| {label} | {b['dropouts_per_minute']:.1f} → {a['dropouts_per_minute']:.1f} "
                     f"| {b['silence_ms_per_minute']:.0f} → {a['silence_ms_per_minute']:.0f} ms "
                     f"| {b['median']:.1f} ({b['p95']:.1f}) → {a['median']:.1f} ({a['p95']:.1f}) "
                     "ms |")
    return "\n".join(lines)


def markdown(table):
    lines = ["| Benchmark | Figure | Result | Target |", "|---|---|---|---|"]
    lines += [f"| {' | '.join(row)} |" for row in table]
    return "\n".join(lines)


def version(command):
    try:
        text = subprocess.run(command, capture_output=True, text=True, timeout=10).stdout
        return text.splitlines()[0].strip() if text else "not installed"
    except (OSError, subprocess.SubprocessError):
        return "not installed"


def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), platform.processor())
    memory = next(line.split()[1] for line in open("/proc/meminfo")
                  if line.startswith("MemTotal"))
    os_name = next((line.split("=", 1)[1].strip().strip('"') for line in open("/etc/os-release")
                    if line.startswith("PRETTY_NAME")), platform.system())
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return [f"- CPU: {model}, {os.cpu_count()} logical cores; {int(memory) // 1024} MB memory",
            f"- System: {os_name}, kernel {platform.release()}",
            f"- Load average at the end of the run (1/5/15 min): {load}",
            f"- {version(['pulseaudio', '--version'])}; {version(['ffmpeg', '-version'])}; "
            f"libopus {version(['pkg-config', '--modversion', 'opus'])}; "
            f"{version(['valgrind', '--version'])}"]


def main():
    out_dir, results_md = sys.argv[1], sys.argv[2]
    figures = load(out_dir)
    # Every figure, with the time series behind the drift and memory rows, next to the table.
    with open(os.path.splitext(results_md)[0] + ".json", "w") as raw:
        json.dump(figures, raw, indent=1)
    table = markdown(rows(figures))
    comparison = before_and_after(figures)
    if comparison:
        table += ("\n\nPlayer mode before the jitter buffer (the baseline build) and with it, "
                  "measured in the same run:\n\n" + comparison)
    print(table)
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    details = []
    for path in sorted(glob.glob(os.path.join(out_dir, "*.txt"))):
        name = os.path.splitext(os.path.basename(path))[0]
        details += [f"### {name}", "", "```", open(path).read().rstrip(), "```", ""]
    with open(results_md, "w") as md:
        md.write("\n".join([f"# Benchmark results, {now}", "", "Written by `bench/run`; what "
                            "each figure means and how far to trust it: `bench/README.md`.", "",
                            *machine(), "", table, "", "## What each benchmark printed", "",
                            *details]))


if __name__ == "__main__":
    main()
