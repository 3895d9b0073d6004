#!/usr/bin/env bash
# Regenerates docs/screenshots/: the Server, Player and Settings pages in the dark and the
# light theme, drawn under Xvfb by a driver that stands a populated fake in for the core.
# Each run of the driver has a private settings directory (which sets the theme) and a
# network namespace of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
out="$root/docs/screenshots"

# Xvfb, ImageMagick, and fonts for the emoji and for the two symbols the emoji font lacks
# (U+1F5A7 and U+23F5) are among the project's packages.
scripts/install-deps.sh

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target kestrune_screenshots
driver="$root/$build/tests/qml/kestrune_screenshots"

work=$(mktemp -d /tmp/kestrune-screenshots.XXXXXX)
xvfb_pid=""
driver_pid=""
cleanup() {
    [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1200x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
[ -e "/tmp/.X11-unix/X$display" ] || { cat "$work/xvfb.log"; exit 1; }

mkdir -p "$out" "$work/runtime"
chmod 700 "$work/runtime"
# Colour emoji first; Symbola only for what the emoji font lacks.
cat >"$work/fonts.conf" <<'EOF_FONTS'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="strong">
    <family>sans-serif</family>
    <prefer>
      <family>DejaVu Sans</family>
      <family>Noto Color Emoji</family>
      <family>Symbola</family>
    </prefer>
  </alias>
</fontconfig>
EOF_FONTS
for theme in dark light; do
    home="$work/$theme"
    mkdir -p "$home/.config/Vell"
    [ "$theme" = dark ] && dark=true || dark=false
    printf '[General]\ndarkTheme=%s\n' "$dark" >"$home/.config/Vell/KestruneServer.conf"
    for page in server player settings; do
        env DISPLAY=":$display" QT_QPA_PLATFORM=xcb HOME="$home" \
            XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
            XDG_RUNTIME_DIR="$work/runtime" DBUS_SESSION_BUS_ADDRESS=disabled: \
            FONTCONFIG_FILE="$work/fonts.conf" \
            tests/support/in-private-network.sh "$driver" "$page" >"$work/driver.out" 2>&1 &
        driver_pid=$!
        for _ in $(seq 100); do
            grep -q '^ready$' "$work/driver.out" && break
            kill -0 "$driver_pid" 2>/dev/null || break
            sleep 0.1
        done
        grep -q '^ready$' "$work/driver.out" || { cat "$work/driver.out"; exit 1; }
        DISPLAY=":$display" import -window root "$work/shot.png"
        kill "$driver_pid"
        wait "$driver_pid" 2>/dev/null || true
        driver_pid=""
        # Lossless, and small enough to keep in the repository.
        /usr/bin/convert "$work/shot.png" -strip -define png:compression-level=9 \
            "$out/$page-$theme.png"
        echo "$out/$page-$theme.png"
    done
done
