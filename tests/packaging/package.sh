#!/usr/bin/env bash
# The Debian package as a user gets it: CPack makes it from the build, its dependencies
# name the libraries (from dpkg-shlibdeps) and every QML module the window loads, the
# program unpacked from it into a throw-away root runs from its launcher entry's Exec line
# for 5 s offscreen against the sound server (its own QML module is compiled in; Qt's come
# from the system), and lintian finds no error.
#   package.sh BUILD_DIR VERSION QML_RUNTIME_PACKAGES_FILE
# Runs inside the test's private network namespace, with PULSE_SERVER set.
set -euo pipefail
build=$(realpath "${1:?build directory}")
version=${2:?version}
qml_packages=${3:?list of QML module packages}
work=$(mktemp -d)
program_pid=""
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.txt" 2>&1 ||
    { cat "$work/cpack.txt"; exit 1; }
deb=$work/out/kestrune_${version}_amd64.deb
[ -f "$deb" ] || { echo "FAIL: no $(basename "$deb"): $(ls "$work/out")"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "depends: $depends"
has_dependency() { tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -qx "$1"; }
for library in libc6 libqt6core6 libqt6gui6 libqt6network6 libqt6qml6 libopus0 libpulse0; do
    has_dependency "$library" || fail "no dependency on $library"
done
while read -r module; do
    has_dependency "$module" || fail "no dependency on $module"
done <"$qml_packages"

root=$work/root
dpkg -x "$deb" "$root"

# The unpacked program, started as the launcher entry's Exec line starts it (found on the
# PATH), in surroundings of its own, tracing where each QML import came from.
exec_line=$(sed -n 's/^Exec=//p' "$root"/usr/share/applications/*.desktop)
home=$work/home
mkdir -p "$home" "$work/runtime"
chmod 700 "$work/runtime"
(
    cd "$work"
    exec env PATH="$root/usr/bin:$PATH" QT_QPA_PLATFORM=offscreen HOME="$home" \
        XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$home/.config" \
        XDG_DATA_HOME="$home/.local/share" DBUS_SESSION_BUS_ADDRESS=disabled: \
        QML_IMPORT_TRACE=1 sh -c "exec $exec_line"
) >"$work/program.txt" 2>&1 &
program_pid=$!
sleep 5
if kill -0 "$program_pid" 2>/dev/null; then
    LC_ALL=C pactl list clients | grep -q 'application.process.binary = "KestruneServer"' ||
        fail "the program is no client of the sound server"
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null || true
else
    status=0
    wait "$program_pid" || status=$?
    fail "the unpacked program ended with status $status within 5 s"
fi
program_pid=""
log=$home/.local/share/KestruneServer/Logs/debug.log
[ -s "$log" ] || { echo "FAIL: no debug.log"; cat "$work/program.txt"; exit 1; }
grep -q 'failed to load component' "$log" && fail "the window did not load: $(grep -m3 -A2 'failed to load' "$log")"

# Every QML module the window loaded from the system belongs to a package it depends on.
modules=$(grep -oE '"/usr/lib/[^"]*/qt6/qml/[^"]+"' "$log" | tr -d '"' | sort -u)
[ -n "$modules" ] || fail "the import trace names no module of the system"
owners=$(dpkg -S $modules | cut -d: -f1 | tr ',' '\n' | sed 's/^ *//' | sort -u)
for owner in $owners; do
    has_dependency "$owner" || fail "the window loads QML from $owner, which is no dependency"
done
echo "QML modules loaded from: $(echo $owners)"

# Lintian: no error (its other findings are printed for whoever reads the log).
lintian --pedantic --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || fail "lintian reports errors"
grep -v 'running with root privileges' "$work/lintian.txt" || true

[ "$failures" -eq 0 ] && echo "package: built, unpacked, ran and passed lintian"
exit $((failures > 0))
