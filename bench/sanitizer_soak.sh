#!/usr/bin/env bash
# Soaks the whole program built with AddressSanitizer and UndefinedBehaviorSanitizer: it probes
# 127.0.0.1 at the shortest interval (1 s, timeout 1 s) until OUTCOMES probes (10,000) have gone
# out, with loss switched on and off (icmp_echo_ignore_all) and the window's menu opened and a size
# switched now and then, under Xvfb with openbox. Prints the resident memory over the run and
# every sanitizer report; fails when there was one, or when the program did not end with 0.
#   bench/sanitizer_soak.sh [build folder] (default build/asan, configured with
#                           -DNODREL_SANITIZE=address,undefined; needs ui/nodrel built there)
# OUTCOMES (10000), LOSS_SECONDS (90: how long each phase of loss or no loss lasts) and
# SAMPLE_SECONDS (60: how often memory is sampled and the menu used) change the run.
# All of it runs in a private network namespace with only loopback, where loss can be switched.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/private_network.sh
source bench/private_network.sh
in_private_network "$@" || { echo "no private network namespace (unshare -n failed)"; exit 1; }
build=${1:-build/asan}
outcomes=${OUTCOMES:-10000}
loss_seconds=${LOSS_SECONDS:-90}
sample_seconds=${SAMPLE_SECONDS:-60}
nodrel=$build/ui/nodrel
for tool in Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
done
[ -x "$nodrel" ] || { echo "$nodrel is not built"; exit 1; }
loss=/proc/sys/net/ipv4/icmp_echo_ignore_all

# shellcheck source=bench/desktop_session.sh
source bench/desktop_session.sh
start_desktop 500
unset DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_CONFIG_HOME/KAVREN"
# Complete: a store that lacks a value is read as none, and the first-run host is a public name.
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\KAVREN\Nodrel]' '"left"=dword:00000064' '"top"=dword:00000064' \
    '"viewmode"=dword:00000002' '"modenum"=dword:00000002' '"blinkmode"=dword:00000002' \
    '"col1"=dword:00ff0000' '"col2"=dword:00c0c0c0' '"col3"=dword:000000ff' \
    '"col4"=dword:000080ff' '"col5"=dword:00ffffff' '"col6"=dword:00000000' \
    '"sound"=dword:00000000' '"timeout"=dword:000003e8' '"host"="127.0.0.1"' \
    '"interval"=dword:000003e8' '"alpha"=dword:00000000' '"w"=dword:00000005' \
    '"h"=dword:00000003' '"ws"=dword:00000001' '"hs"=dword:00000001' \
    '"minimized"=dword:00000000' >"$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"

# A small quarantine, so that resident memory shows the program's own growth, not ASan's.
export ASAN_OPTIONS=quarantine_size_mb=8:detect_leaks=0:log_path=$work/sanitizer
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$work/sanitizer
echo 0 >"$loss"
"$nodrel" >"$work/nodrel.log" 2>&1 &
nodrel_pid=$!
pids+=("$nodrel_pid")

# Echo requests sent in this namespace: one per outcome.
sent() {
    awk '/^Icmp:/ { if (++n == 1) { for (i = 2; i <= NF; ++i) if ($i == "OutEchos") f = i }
                    else print $f }' /proc/net/snmp
}
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$nodrel_pid/status"; }
start_count=$(sent)
started=$SECONDS
next_toggle=$loss_seconds
next_sample=$sample_seconds
samples=()
echo "== $outcomes outcomes; loss switched every $loss_seconds s; memory and menu every $sample_seconds s"
while [ $(($(sent) - start_count)) -lt "$outcomes" ]; do
    kill -0 "$nodrel_pid" 2>/dev/null || { echo "the program ended early"; break; }
    sleep 1
    elapsed=$((SECONDS - started))
    if [ "$elapsed" -ge "$next_toggle" ]; then
        echo $((1 - $(cat "$loss"))) >"$loss"
        next_toggle=$((next_toggle + loss_seconds))
    fi
    if [ "$elapsed" -ge "$next_sample" ]; then
        samples+=("$(rss)")
        echo "$(printf '%6d s' "$elapsed")  outcomes $(($(sent) - start_count))  loss $(cat "$loss")  VmRSS ${samples[-1]} kB"
        # The menu opened and closed, and a double-click switching the size there and back.
        window=$(xdotool search --onlyvisible --name '^KAVREN Nodrel - ' | head -1)
        if [ -n "$window" ]; then
            xdotool mousemove --window "$window" 10 10 click 3 sleep 0.5 key Escape \
                sleep 0.7 click --repeat 2 --delay 80 1 sleep 0.7 click --repeat 2 --delay 80 1
        fi
        next_sample=$((next_sample + sample_seconds))
    fi
done
echo 0 >"$loss"
kill -TERM "$nodrel_pid"
status=0
wait "$nodrel_pid" || status=$?

echo "== $(($(sent) - start_count)) outcomes in $((SECONDS - started)) s; exit status $status"
# The first samples fall while ASan's quarantine and Qt's caches fill: flat means flat after them.
if [ ${#samples[@]} -gt 3 ]; then
    steady=("${samples[@]:3}")
    printf '%s\n' "${steady[@]}" | sort -n | awk -v first="${steady[0]}" -v last="${steady[-1]}" \
        -v warm="${samples[*]:0:3}" '{ v[NR] = $1 } END { printf "VmRSS kB: warming up %s; then first %d, last %d, min %d, max %d\n", warm, first, last, v[1], v[NR] }'
fi
reports=$(cat "$work"/sanitizer.* 2>/dev/null || true)
reports+=$(grep -E 'runtime error|Sanitizer' "$work/nodrel.log" || true)
if [ -n "$reports" ]; then
    echo "== sanitizer reports"
    echo "$reports"
    exit 1
fi
echo "no sanitizer report"
[ "$status" -eq 0 ]
