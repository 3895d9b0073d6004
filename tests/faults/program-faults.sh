#!/usr/bin/env bash
# The real program, offscreen, where it cannot have what it usually has:
#   - a read-only working directory, and one that was removed: it runs, and its log goes
#     on into the logs directory, whatever the working directory;
#   - a logs directory it cannot write: it runs, and its messages go to standard error
#     (its log is best effort, never a reason to stop);
#   - its three ports held by another process: it runs deaf on them, without a crash and
#     without spinning, and its log says which ports another program holds.
# Every framework category logs at debug level, so the log handler is busy throughout.
#   program-faults.sh PROGRAM
# Runs inside the test's private network namespace; takes a mount namespace of its own
# for the read-only directory.
set -euo pipefail
program=$(realpath "${1:?program}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='*.debug=true'
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
# Its one-instance lock too: no other test's copy may pass for a running one.
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR=$scratch/runtime
failures=0
seconds=4

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs the program for $seconds in directory $1 (with the rest as a command prefix that
# execs it) and checks that it was still running at the end; sets ticks to the CPU time it
# used in its last second, in clock ticks (100 a second for a busy core), once started up.
ticks=
run_for_a_while() {
    local directory=$1
    shift
    ticks=
    (cd "$directory" && exec "$@" "$program") >"$scratch/output" 2>&1 &
    local pid=$!
    sleep $((seconds - 1))
    local before
    before=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    sleep 1
    if ! kill -0 "$pid" 2>/dev/null; then
        local status=0
        wait "$pid" || status=$?
        fail "the program ended with status $status after less than $seconds s"
        tail -5 "$scratch/output"
        return
    fi
    ticks=$(awk -v before="$before" '{print $14 + $15 - before}' "/proc/$pid/stat")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

log=$XDG_DATA_HOME/KestruneServer/Logs/debug.log
# Sets grown to the lines the log gained since the last call.
logged=0
grown=0
log_growth() {
    local now=0
    [ ! -f "$log" ] || now=$(wc -l <"$log")
    grown=$((now - logged))
    logged=$now
}

# A control run: the log is written into the logs directory, nothing into the working one.
mkdir -p "$scratch/writable"
run_for_a_while "$scratch/writable"
log_growth
[ "$grown" -gt 0 ] || fail "no debug.log in the logs directory"
[ -z "$(ls -A "$scratch/writable")" ] || fail "something was written into the working directory"
echo "writable working directory: debug.log in the logs directory has $grown lines"

# A read-only working directory: the directory mounted read-only onto itself, which holds
# even against root.
mkdir -p "$scratch/readonly"
run_for_a_while "$scratch/readonly" unshare --mount --propagation private -- sh -c \
    'mount --bind "$PWD" "$PWD" && mount -o remount,bind,ro "$PWD" && cd "$PWD" &&
     exec "$0"'
[ -z "$(ls -A "$scratch/readonly")" ] || fail "something was written into the read-only directory"
log_growth
[ "$grown" -gt 0 ] || fail "nothing was logged with a read-only working directory"
echo "read-only working directory: ran $seconds s, ${ticks:-?} ticks of CPU in its last second, $grown lines logged"

# A working directory removed under the program's feet before it starts.
mkdir -p "$scratch/removed"
run_for_a_while "$scratch/removed" sh -c 'rmdir "$PWD" && exec "$0"'
[ ! -e "$scratch/removed" ] || fail "the removed directory came back"
log_growth
[ "$grown" -gt 0 ] || fail "nothing was logged with a removed working directory"
echo "removed working directory: ran $seconds s, ${ticks:-?} ticks of CPU in its last second, $grown lines logged"

# The data location mounted read-only onto itself: the logs directory takes nothing, and
# the messages come out on standard error instead, in the log's own form.
mkdir -p "$scratch/anywhere"
run_for_a_while "$scratch/anywhere" unshare --mount --propagation private -- sh -c \
    'mount --bind "$XDG_DATA_HOME" "$XDG_DATA_HOME" &&
     mount -o remount,bind,ro "$XDG_DATA_HOME" && exec "$0"'
log_growth
[ "$grown" -eq 0 ] || fail "$grown lines reached a read-only logs directory"
stamped=$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}\.[0-9]{3} ' "$scratch/output" || true)
[ "$stamped" -gt 0 ] || fail "no message reached standard error with the logs directory read-only"
echo "read-only logs directory: ran $seconds s, ${ticks:-?} ticks of CPU in its last second, $stamped lines on standard error"

# Ports 8080-8082 held, IPv4 and IPv6, by a process that does not share them.
python3 - "$scratch/held" <<'PY' &
import socket, sys, time
sockets = []
for port in (8080, 8081, 8082):
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    s.bind(("::", port))
    sockets.append(s)
open(sys.argv[1], "w").close()
time.sleep(60)
PY
holder=$!
for _ in $(seq 100); do
    [ -e "$scratch/held" ] && break
    sleep 0.05
done
[ -e "$scratch/held" ] || fail "the ports could not be taken for the test"
mkdir -p "$scratch/deaf"
run_for_a_while "$scratch/deaf"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
# Busy-looping on its failed sockets would cost a core: 100 ticks a second.
[ "${ticks:-1000}" -lt 50 ] || fail "the program spent ${ticks:-?} ticks of CPU in its last second with its ports taken"
log_growth
# grep reads all of it: one that stopped at the match would leave tail a broken pipe.
tail -n "$grown" "$log" | grep ' Ports 8080, 8081 and 8082 are in use by another program$' >/dev/null ||
    fail "debug.log does not say which ports another program holds"
echo "ports 8080-8082 taken: ran $seconds s deaf, ${ticks:-?} ticks of CPU in its last second"

exit $((failures > 0))
