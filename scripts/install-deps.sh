#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
    qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
    libsndfile1-dev libpulse-dev pulseaudio pulseaudio-utils util-linux
    # the journal's database, and the command line its tests read it with
    libsqlite3-dev sqlite3
    fonts-dejavu-core fonts-noto-core fonts-liberation2 libxcb1-dev libxcb-xfixes0-dev
    # the real-desktop tests
    xvfb xauth openbox xfwm4 wmctrl tint2 xdotool x11-utils imagemagick dbus iproute2
    # the window managers of KDE Plasma and GNOME on X11, and a tiling one that frames windows
    kwin-x11 mutter i3-wm
    # a StatusNotifierItem watcher of the tests' own
    libglib2.0-dev
    # a StatusNotifierItem host, and Wayland sessions with and without XWayland
    xfce4-panel libglib2.0-bin weston xwayland
    # the installed files' validators, the Debian package, the whole-program bench
    desktop-file-utils appstream dpkg-dev libcap2-bin libxcb-damage0-dev strace lintian
    # a session manager of the tests' own (XSMP)
    libsm-dev
    # the Wayland platform plugin, for sessions without an X server
    qt6-wayland
    # the probe's instructions counted beside fping's (bench/README.md)
    valgrind fping
    # the HTTP endpoint for Prometheus (its CMake files need the WebSockets ones), and the real
    # Prometheus server, promtool and node_exporter its tests scrape it with
    qt6-httpserver-dev qt6-websockets-dev prometheus prometheus-node-exporter curl
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
