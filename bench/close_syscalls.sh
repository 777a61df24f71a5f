#!/usr/bin/env bash
# Counts the system calls of one close of KAVREN Nodrel (strace -c on the running program from
# just before SIGTERM to its end): the close that saves all twenty-one values, as a first run's
# does. The store is complete and probes 127.0.0.1, but holds every number in a shorter form than
# the program writes, so each value differs from the file at the close.
#   bench/close_syscalls.sh [build folder] (default build; needs nodrel built there)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/private_network.sh
source bench/private_network.sh
in_private_network "$@" || { echo "no private network namespace (unshare -n failed)"; exit 1; }
build=${1:-build}
for tool in Xvfb openbox strace; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
done
# shellcheck source=bench/desktop_session.sh
source bench/desktop_session.sh
start_desktop 230
mkdir -p "$XDG_CONFIG_HOME/KAVREN"
# hex(4) with fewer than four bytes reads as the same number; the close writes dword:.
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\KAVREN\Nodrel]' '"left"=hex(4):64' '"top"=hex(4):64' \
    '"viewmode"=hex(4):02' '"modenum"=hex(4):02' '"blinkmode"=hex(4):01' \
    '"col1"=hex(4):00,00,ff' '"col2"=hex(4):c0,c0,c0' '"col3"=hex(4):ff' \
    '"col4"=hex(4):ff,80' '"col5"=hex(4):ff,ff,ff' '"col6"=hex(4):00' \
    '"sound"=hex(4):00' '"timeout"=hex(4):e8,03' '"host"=hex(1):31,00,32,00,37,00,2e,00,30,00,2e,00,30,00,2e,00,31,00' \
    '"interval"=hex(4):88,13' '"alpha"=hex(4):00' '"w"=hex(4):05' \
    '"h"=hex(4):03' '"ws"=hex(4):01' '"hs"=hex(4):01' \
    '"minimized"=hex(4):00' >"$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"

"$build/ui/nodrel" >"$work/nodrel.log" 2>&1 &
program=$!
sleep 3
strace -c -f -p "$program" -o "$work/close.txt" &
tracer=$!
sleep 1
kill -TERM "$program"
wait "$program" || true
wait "$tracer" || true
cat "$work/close.txt"
echo "--- the store after the close:"
cat "$XDG_CONFIG_HOME/KAVREN/Nodrel.reg"
