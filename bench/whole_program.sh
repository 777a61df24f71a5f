#!/usr/bin/env bash
# Measures KAVREN Nodrel as a whole process against the bare Qt window of bench/bare_window.cpp,
# side by side under Xvfb with openbox: launch to first paint, resident memory once idle,
# wake-ups while idle, then the window's outcome path (bench/window_outcome_bench.cpp).
#   bench/whole_program.sh [build folder] (default build; needs nodrel, bare_window,
#                          first_frame and window_outcome_bench built there)
# LAUNCHES (20) and IDLE_SECONDS (60) change the number of launches and the traced idle time.
# Every nodrel reads a store of its own that probes 127.0.0.1 every 5 s.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
launches=${LAUNCHES:-20}
idle_seconds=${IDLE_SECONDS:-60}
nodrel=$build/ui/nodrel
bare=$build/bench/bare_window
for tool in Xvfb openbox strace; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A private display with a window manager, and a private settings store.
display=:$((200 + $$ % 300))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/KAVREN"
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\KAVREN\Nodrel]' '"host"="127.0.0.1"' '"interval"=dword:00001388' \
    '"timeout"=dword:000003e8' '"sound"=dword:00000000' '"minimized"=dword:00000000' \
    '"left"=dword:00000064' '"top"=dword:00000064' >"$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
cp "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg" "$work/store"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== launch to first paint, $launches launches each, alternating"
for _ in $(seq "$launches"); do
    "$build/bench/first_frame" "Bare window" "$bare" >>"$work/bare.launch"
    cp "$work/store" "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
    "$build/bench/first_frame" "KAVREN Nodrel" "$nodrel" >>"$work/nodrel.launch"
done
bare_launch=$(median <"$work/bare.launch")
nodrel_launch=$(median <"$work/nodrel.launch")
echo "bare window:   median $bare_launch ms (all: $(sort -n "$work/bare.launch" | tr '\n' ' '))"
echo "KAVREN Nodrel: median $nodrel_launch ms (all: $(sort -n "$work/nodrel.launch" | tr '\n' ' '))"
echo "ratio: $(ratio "$nodrel_launch" "$bare_launch") (aim: at most 1.2)"

echo "== resident memory after 5 s idle, then wake-ups over $idle_seconds s idle (strace -c -f)"
cp "$work/store" "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
"$bare" >/dev/null &
bare_pid=$!
pids+=("$bare_pid")
"$nodrel" &
nodrel_pid=$!
pids+=("$nodrel_pid")
sleep 5
memory() { grep -E '^(VmRSS|RssAnon|RssFile|RssShmem)' "/proc/$1/status" | awk '{ printf "%s %s kB  ", $1, $2 }'; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
bare_rss=$(rss "$bare_pid")
nodrel_rss=$(rss "$nodrel_pid")
echo "bare window:   $(memory "$bare_pid")"
echo "KAVREN Nodrel: $(memory "$nodrel_pid")"
echo "ratio: $(ratio "$nodrel_rss" "$bare_rss") (aim: at most 1.1)"
timeout -s INT "$idle_seconds" strace -c -f -qq -p "$bare_pid" -o "$work/bare.strace" 2>/dev/null &
timeout -s INT "$idle_seconds" strace -c -f -qq -p "$nodrel_pid" -o "$work/nodrel.strace" 2>/dev/null &
wait "$!" || true
sleep 1
for name in bare nodrel; do
    echo "-- $name: system calls over $idle_seconds s"
    sed -n '/^% time/,$p' "$work/$name.strace"
done
kill "$bare_pid" "$nodrel_pid"

echo "== the outcome path (Google Benchmark)"
"$build/bench/window_outcome_bench"
