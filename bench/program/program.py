#!/usr/bin/env python3
"""The whole program's CPU share and resident memory (see bench/README.md).

  program.py cpu HOST PEER --seconds S --json FILE
      CPU time over S seconds idle (no stream, window offscreen), then over S seconds
      streaming music to one phone with EventSync on (the default) and S seconds with it
      off, each as a share of one core; and the resident memory a few seconds after start.
  program.py memory streaming|player HOST PEER --minutes M --json FILE
      Resident memory sampled every 10 s for M minutes, streaming to four phones or in
      player mode playing a phone's tone into the cable sink.

HOST is bench_programhost (the program with a hand on its controls), PEER kestrune-peer.
Runs inside a private network namespace with a private PulseAudio (bench/run sees to both).
"""
import argparse
import json
import os
import signal
import subprocess
import tempfile
import time

SETTLE_SECONDS = 5  # start-up, the window drawn, the hand has acted
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    # utime and stime, the 14th and 15th fields, after the command name in parentheses.
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_mb(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    raise RuntimeError("no VmRSS")


class Processes:
    """Children that are ended, in reverse order, when the block ends."""

    def __init__(self):
        self.children = []
        self.home = tempfile.TemporaryDirectory()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for child in reversed(self.children):
            # A shell pipeline is its own process group: end all of it, not just the shell.
            if child.args and isinstance(child.args, str):
                os.killpg(child.pid, signal.SIGTERM)
            else:
                child.terminate()
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        self.home.cleanup()

    def start(self, command, shell=False):
        # The program keeps its settings, its log and its one-instance lock in this private
        # home, so that runs side by side do not take each other for a second start.
        runtime = self.home.name + "/runtime"
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ, HOME=self.home.name, XDG_CONFIG_HOME=self.home.name + "/.config",
                   XDG_RUNTIME_DIR=runtime)
        child = subprocess.Popen(command, shell=shell, cwd=self.home.name, env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 start_new_session=shell)
        self.children.append(child)
        return child

    def settings(self, **options):
        """Stored options of the program, as AppConfig keeps them, before it starts."""
        directory = os.path.join(self.home.name, ".config", "Vell")
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "KestruneServer.conf"), "w") as conf:
            conf.write("[General]\n")
            for key, value in options.items():
                conf.write(f"{key}={'true' if value else 'false'}\n")

    def music(self):
        """Two tones a channel and pink noise, played into the speakers sink."""
        return self.start("exec sox -q -n -r 48000 -c 2 -b 16 -t raw - synth 3600 "
                          "sine 220 sine 330 pinknoise vol 0.3 | "
                          "exec pacat -d speakers --raw --rate=48000 --channels=2 --format=s16le",
                          shell=True)

    def listeners(self, peer, count):
        for i in range(count):
            self.start([peer, "listen", "--server", "127.0.0.1", "--bind", f"127.0.0.{2 + i}"])


def program_stream_present(mode):
    """Whether the sound server has the program's stream: its capture, or its player."""
    listing = subprocess.run(["pactl", "list", "source-outputs" if mode == "streaming"
                              else "sink-inputs"], capture_output=True, text=True,
                             env=dict(os.environ, LC_ALL="C")).stdout
    name = "Loopback capture" if mode == "streaming" else "Player"
    return f'media.name = "{name}"' in listing


def share_of_core(pid, seconds):
    cpu, wall = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - cpu) / (time.monotonic() - wall)


def run_cpu(args):
    results = {}
    with Processes() as children:
        program = children.start([args.host])
        time.sleep(SETTLE_SECONDS)
        results["rss_after_start_mb"] = rss_mb(program.pid)
        results["idle_share"] = share_of_core(program.pid, args.seconds)
    for key, event_sync in (("streaming_share", True), ("streaming_share_polling", False)):
        with Processes() as children:
            children.settings(enableEventSync=event_sync)
            children.music()
            children.listeners(args.peer, 1)
            program = children.start([args.host, "--start"])
            time.sleep(SETTLE_SECONDS)
            results[key] = share_of_core(program.pid, args.seconds)
    print(f"program CPU, share of one core: idle {100 * results['idle_share']:.2f} %, "
          f"streaming to one phone {100 * results['streaming_share']:.2f} % with EventSync, "
          f"{100 * results['streaming_share_polling']:.2f} % without; "
          f"resident after start {results['rss_after_start_mb']:.1f} MB")
    return {"program_cpu": results}


def run_memory(args):
    samples = []
    with Processes() as children:
        if args.mode == "streaming":
            children.music()
            children.listeners(args.peer, 4)
            program = children.start([args.host, "--start"])
        else:
            children.start([args.peer, "send", "--to", "127.0.0.1", "--bind", "127.0.0.2",
                            "--tone", "440"])
            program = children.start([args.host, "--connect", "127.0.0.2",
                                      "--output", "cable_input"])
        time.sleep(SETTLE_SECONDS)
        audible = program_stream_present(args.mode)
        begin = time.monotonic()
        while True:
            elapsed = time.monotonic() - begin
            samples.append([round(elapsed, 1), rss_mb(program.pid)])
            if elapsed >= args.minutes * 60:
                break
            time.sleep(min(10, args.minutes * 60 - elapsed))
    # Growth counts from the first minute on, once every buffer has had its first use.
    warm = next((mb for at, mb in samples if at >= min(60, args.minutes * 30)), samples[0][1])
    result = {"first_mb": samples[0][1], "warm_mb": warm, "end_mb": samples[-1][1],
              "max_mb": max(mb for _, mb in samples), "growth_mb": samples[-1][1] - warm,
              "minutes": args.minutes, "stream_present": audible, "series": samples}
    print(f"program resident memory, {args.mode} {args.minutes:g} min: {result['first_mb']:.1f} MB "
          f"at start, {warm:.1f} after the first minute, {result['end_mb']:.1f} at the end "
          f"(growth {result['growth_mb']:+.2f} MB, max {result['max_mb']:.1f})")
    return {f"program_memory_{args.mode}": result}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["cpu", "memory"])
    parser.add_argument("mode", nargs="?", choices=["streaming", "player"])
    parser.add_argument("host")
    parser.add_argument("peer")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--json", required=True)
    args = parser.parse_args()
    args.host, args.peer = os.path.abspath(args.host), os.path.abspath(args.peer)
    results = run_cpu(args) if args.what == "cpu" else run_memory(args)
    with open(args.json, "w") as out:
        json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
