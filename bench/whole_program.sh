#!/usr/bin/env bash
# Measures KAVREN Nodrel as a whole process against the bare Qt window of bench/bare_window.cpp,
# side by side under Xvfb with openbox: launch to first paint, resident memory once idle,
# wake-ups while idle, then the window's outcome path against a bare repaint
# (bench/window_outcome_bench.cpp).
#   bench/whole_program.sh [build folder [benchmark options]] (default build; needs nodrel,
#                          bare_window, first_frame and window_outcome_bench built there)
# LAUNCHES (40), MEMORY_PAIRS (5) and IDLE_SECONDS (60) change the number of launches, of paired
# memory samples and the traced idle time; NODREL_ARGS gives every nodrel start options, e.g.
# NODREL_ARGS="--metrics-listen 127.0.0.1:9374".
# Every nodrel reads a complete store of its own that probes 127.0.0.1 every 5 s, and all of it
# runs in a private network namespace with only loopback, where unshare can make one.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/private_network.sh
source bench/private_network.sh
in_private_network "$@" ||
    echo "NOTE: no private network namespace (unshare -n failed); the store keeps it on 127.0.0.1"
build=${1:-build}
launches=${LAUNCHES:-40}
idle_seconds=${IDLE_SECONDS:-60}
nodrel=$build/ui/nodrel
bare=$build/bench/bare_window
read -ra nodrel_args <<<"${NODREL_ARGS:-}"
for tool in Xvfb openbox strace; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
done

# A private display with a window manager, a private session bus and a private settings store.
# shellcheck source=bench/desktop_session.sh
source bench/desktop_session.sh
start_desktop 200
# A session bus, as every desktop session has: without one each Qt program looks for it at start.
if command -v dbus-daemon >/dev/null; then
    bus_address=unix:path=$XDG_RUNTIME_DIR/bus
    dbus-daemon --session --address="$bus_address" --nofork >/dev/null 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=$bus_address
    for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.1; done
fi
mkdir -p "$XDG_CONFIG_HOME/KAVREN"
# Complete: a store that lacks a value is read as none, and the first-run host is a public name.
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\KAVREN\Nodrel]' '"left"=dword:00000064' '"top"=dword:00000064' \
    '"viewmode"=dword:00000002' '"modenum"=dword:00000002' '"blinkmode"=dword:00000001' \
    '"col1"=dword:00ff0000' '"col2"=dword:00c0c0c0' '"col3"=dword:000000ff' \
    '"col4"=dword:000080ff' '"col5"=dword:00ffffff' '"col6"=dword:00000000' \
    '"sound"=dword:00000000' '"timeout"=dword:000003e8' '"host"="127.0.0.1"' \
    '"interval"=dword:00001388' '"alpha"=dword:00000000' '"w"=dword:00000005' \
    '"h"=dword:00000003' '"ws"=dword:00000001' '"hs"=dword:00000001' \
    '"minimized"=dword:00000000' >"$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
cp "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg" "$work/store"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== launch to first paint, $launches launches each, alternating"
for _ in $(seq "$launches"); do
    "$build/bench/first_frame" "Bare window" "$bare" >>"$work/bare.launch"
    cp "$work/store" "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
    "$build/bench/first_frame" "KAVREN Nodrel - 127.0.0.1" "$nodrel" "${nodrel_args[@]}" \
        >>"$work/nodrel.launch"
done
grep -q . "$work/nodrel.launch" || { echo "no launch measured"; exit 1; }
bare_launch=$(median <"$work/bare.launch")
nodrel_launch=$(median <"$work/nodrel.launch")
echo "bare window:   median $bare_launch ms (all: $(sort -n "$work/bare.launch" | tr '\n' ' '))"
echo "KAVREN Nodrel: median $nodrel_launch ms (all: $(sort -n "$work/nodrel.launch" | tr '\n' ' '))"
echo "ratio: $(ratio "$nodrel_launch" "$bare_launch") (aim: at most 1.1)"

# One pair's figures move by a few hundred kB from start to start (which pages of the shared
# libraries a fault maps along): the medians of several pairs, each started together.
memory_pairs=${MEMORY_PAIRS:-5}
echo "== resident memory after 5 s idle, median of $memory_pairs pairs; then wake-ups over $idle_seconds s idle (strace -c -f)"
memory() { grep -E '^(VmRSS|RssAnon|RssFile|RssShmem)' "/proc/$1/status" | awk '{ printf "%s %s kB  ", $1, $2 }'; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
for pair in $(seq "$memory_pairs"); do
    cp "$work/store" "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
    "$bare" >/dev/null &
    bare_pid=$!
    pids+=("$bare_pid")
    "$nodrel" "${nodrel_args[@]}" &
    nodrel_pid=$!
    pids+=("$nodrel_pid")
    sleep 5
    rss "$bare_pid" >>"$work/bare.rss"
    rss "$nodrel_pid" >>"$work/nodrel.rss"
    # The last pair stays for the wake-ups.
    if [ "$pair" -lt "$memory_pairs" ]; then
        kill "$bare_pid" "$nodrel_pid"
        wait "$bare_pid" "$nodrel_pid" 2>/dev/null || true
    fi
done
bare_rss=$(median <"$work/bare.rss")
nodrel_rss=$(median <"$work/nodrel.rss")
echo "bare window:   median VmRSS $bare_rss kB (all: $(sort -n "$work/bare.rss" | tr '\n' ' ')); last: $(memory "$bare_pid")"
echo "KAVREN Nodrel: median VmRSS $nodrel_rss kB (all: $(sort -n "$work/nodrel.rss" | tr '\n' ' ')); last: $(memory "$nodrel_pid")"
echo "ratio: $(ratio "$nodrel_rss" "$bare_rss") (aim: at most 1.05)"
timeout -s INT "$idle_seconds" strace -c -f -qq -p "$bare_pid" -o "$work/bare.strace" 2>/dev/null &
timeout -s INT "$idle_seconds" strace -c -f -qq -p "$nodrel_pid" -o "$work/nodrel.strace" 2>/dev/null &
wait "$!" || true
sleep 1
for name in bare nodrel; do
    echo "-- $name: system calls over $idle_seconds s"
    if grep -q '^% time' "$work/$name.strace"; then
        sed -n '/^% time/,$p' "$work/$name.strace"
    else
        echo "none"
    fi
done
kill "$bare_pid" "$nodrel_pid"

echo "== the outcome path (Google Benchmark)"
"$build/bench/window_outcome_bench" "${@:2}"
