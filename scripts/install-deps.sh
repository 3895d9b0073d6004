#!/usr/bin/env bash
# Installs everything the build, the program and the tests need on Debian 12.
set -euo pipefail
# The QML modules the window loads at run time, which the Debian package depends on too.
mapfile -t qml_runtime <"$(dirname "$0")/../packaging/linux/qml-runtime-packages"
packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-declarative-dev
    "${qml_runtime[@]}" qml6-module-qttest
    libopus-dev libpulse-dev
    pulseaudio pulseaudio-utils sox
    pipewire pipewire-pulse wireplumber dbus-daemon
    dpkg-dev file desktop-file-utils appstream lintian man-db
    xvfb xauth x11-apps imagemagick fonts-noto-color-emoji fonts-symbola
    iproute2 util-linux python3
    clang libclang-rt-dev valgrind
    g++-mingw-w64-x86-64 wine wine64
)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi
