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

QUEUE_CAP_MS = 200  # the player's pending queue keeps at most this much
ALLOWANCE_MS = 25   # codec delay, one render period, recorder blocks
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

    player = f.get("player_latency", {})
    if "on_time" in player:
        run = player["on_time"]
        table.append(("Player-mode latency", "datagram sent → tone in the sink, median / p90 / max",
                      spread(run).replace("clicks", "bursts"), ""))
        table.append(("Player-mode latency", "pending queue (latency − sound server − codec)",
                      f"{run['queue_ms']:.1f} ms (sound server holds "
                      f"{run['server_buffering_ms']:.1f} ms)", ""))
    for key, label in (("fast", "sender clock 0.1 % fast"), ("slow", "sender clock 0.1 % slow")):
        if key not in player:
            continue
        run = player[key]
        bound = run["server_buffering_ms"] + QUEUE_CAP_MS + ALLOWANCE_MS
        label += f" (against the sink during the run: {100 * (run['phone_over_sink'] - 1):+.3f} %)"
        table.append(("Player-mode latency", f"{label}, {run['seconds']:.0f} s",
                      f"{run['first_median']:.1f} → {run['last_median']:.1f} ms, "
                      f"{run['slope_ms_per_min']:+.1f} ms/min, max {run['max']:.1f} ms",
                      f"bounded (max ≤ {bound:.0f} ms): {verdict(run['max'] <= bound)}"))

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
