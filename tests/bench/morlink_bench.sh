#!/usr/bin/env bash
# Receiving benchmark: a 256 MiB size answer from the simulated device into
# `morlink -r5 -l -o FILE`, beside a plain receiver of the same bytes on the
# same loopback; then the processor time morlink uses while it waits 5 s on a
# silent device.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$ROOT/build-bench"
SIZE=$((256 * 1024 * 1024))
RUNS=3

"$ROOT/tools/setup" bench
(cd "$ROOT" && cmake --preset build-bench >/dev/null && cmake --build --preset build-bench --target morlink simdevice plain_recv >/dev/null)
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"; kill $(jobs -p) 2>/dev/null || true' EXIT

# Starts the device with the size answer; its port goes to $TMP/port.
start_device() {
    rm -f "$TMP/port"
    "$BUILD/tests/simdevice" -w 120 "recv:3" "send:\\x01AOK;$SIZE\\x17" "blob:$SIZE" >"$TMP/port" &
    for _ in $(seq 100); do [ -s "$TMP/port" ] && break; sleep 0.05; done
}

# Seconds one command takes, best of RUNS, each against a fresh device.
best_of() {
    local best=""
    for ((i = 0; i < RUNS; i++)); do
        start_device
        local port t0 t1
        port=$(cat "$TMP/port")
        t0=$EPOCHREALTIME
        "$@" "$port"
        t1=$EPOCHREALTIME
        wait
        best=$(awk -v a="$t0" -v b="$t1" -v c="$best" 'BEGIN { d = b - a; print (c == "" || d < c) ? d : c }')
    done
    echo "$best"
}
run_morlink() { echo -n job | "$BUILD/code/morlink" -s127.0.0.1 -p"$1" -r5 -l -o"$TMP/out"; }
run_plain() { "$BUILD/tests/bench/plain_recv" "$1" "$((SIZE + ${#SIZE} + 6))" "$TMP/out"; }

T_MORLINK=$(best_of run_morlink)
[ "$(stat -c %s "$TMP/out")" -eq "$SIZE" ] || { echo "morlink wrote a wrong size" >&2; exit 1; }
T_PLAIN=$(best_of run_plain)
echo "Receiving a 256 MiB size answer on loopback, best of $RUNS"
awk -v m="$T_MORLINK" -v p="$T_PLAIN" -v s="$SIZE" 'BEGIN {
    printf "  morlink -r5 -l -o FILE : %7.1f MB/s (%.3f s)\n", s / m / 1e6, m
    printf "  plain receiver         : %7.1f MB/s (%.3f s)\n", s / p / 1e6, p
    printf "  morlink/plain          : %.2f\n", p / m }'

# A silent device: morlink waits 5 s for an answer, then reports Timeout.
"$BUILD/tests/simdevice" -w 30 >"$TMP/port" &
for _ in $(seq 100); do [ -s "$TMP/port" ] && break; sleep 0.05; done
TIMEFORMAT='%R %U %S'
{ time (echo -n job | "$BUILD/code/morlink" -s127.0.0.1 -p"$(cat "$TMP/port")" -r5 2>/dev/null); } 2>"$TMP/times"
wait
read -r WALL USR SYS <"$TMP/times"
echo "Waiting 5 s on a silent device"
awk -v w="$WALL" -v u="$USR" -v s="$SYS" 'BEGIN { printf "  wall %.2f s, processor %.3f s (user %.3f, system %.3f)\n", w, u + s, u, s }'
