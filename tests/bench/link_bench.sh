#!/usr/bin/env bash
# morlink against OpenBSD netcat on a realistic link: the simulated device in a
# network namespace of its own, joined to this host by a veth pair shaped to
# 100 Mbit/s with a token bucket in each direction. 64 MiB are sent over TCP,
# and a 64 MiB size answer is received; the same runs on plain loopback stand
# beside them. Needs root (network namespaces, tc). Everything stays on this
# machine: the two addresses exist only on the veth pair made here.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$ROOT/tools/lib/root.sh"
is_root || { echo "link_bench.sh: network namespaces and tc need root: run it as root" >&2; exit 1; }
BUILD="$ROOT/build-bench"
NS=morlink-bench
HOST_IF=mlb-host DEV_IF=mlb-dev
HOST_ADDR=10.213.7.1 DEV_ADDR=10.213.7.2
SIZE=$((64 * 1024 * 1024))
RUNS=3

"$ROOT/tools/setup" bench
(cd "$ROOT" && cmake --preset build-bench >/dev/null && cmake --build --preset build-bench --target morlink simdevice >/dev/null)
TMP=$(mktemp -d)
cleanup() {
    ip netns del "$NS" 2>/dev/null || true
    ip link del "$HOST_IF" 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT
cleanup
mkdir -p "$TMP"
head -c "$SIZE" /dev/urandom >"$TMP/data"

ip netns add "$NS"
ip link add "$HOST_IF" type veth peer name "$DEV_IF"
ip link set "$DEV_IF" netns "$NS"
ip addr add "$HOST_ADDR/30" dev "$HOST_IF"
ip link set "$HOST_IF" up
ip netns exec "$NS" ip addr add "$DEV_ADDR/30" dev "$DEV_IF"
ip netns exec "$NS" ip link set "$DEV_IF" up
ip netns exec "$NS" ip link set lo up
tc qdisc add dev "$HOST_IF" root tbf rate 100mbit burst 64kb latency 50ms
ip netns exec "$NS" tc qdisc add dev "$DEV_IF" root tbf rate 100mbit burst 64kb latency 50ms

# Runs the device (in the namespace for the shaped link) with the given steps,
# then the client command with the device's address and port appended, and
# prints the client's wall time in seconds.
timed() {
    local where=$1 steps=$2
    shift 2
    local addr=127.0.0.1 wrap=()
    if [ "$where" = shaped ]; then addr=$DEV_ADDR wrap=(ip netns exec "$NS"); fi
    rm -f "$TMP/port"
    # shellcheck disable=SC2086
    "${wrap[@]}" "$BUILD/tests/simdevice" -c -a "$addr" -w 120 $steps >"$TMP/port" &
    local dev=$!
    for _ in $(seq 100); do [ -s "$TMP/port" ] && break; sleep 0.05; done
    local t0=$EPOCHREALTIME
    "$@" "$addr" "$(head -n 1 "$TMP/port")"
    local t1=$EPOCHREALTIME
    wait "$dev"
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}
send_morlink() { "$BUILD/code/morlink" -s"$1" -p"$2" -i"$TMP/data"; }
send_nc() { nc -N "$1" "$2" <"$TMP/data"; }
recv_morlink() { printf job | "$BUILD/code/morlink" -s"$1" -p"$2" -r5 -l -o/dev/null; }
recv_nc() { printf job | nc "$1" "$2" >/dev/null; }
RECV_STEPS="recv:3 send:\\x01AOK;$SIZE\\x17 blob:$SIZE close"

best() {
    local best=""
    for ((i = 0; i < RUNS; i++)); do
        local t
        t=$(timed "$@" | tail -n 1)
        best=$(awk -v t="$t" -v b="$best" 'BEGIN { print (b == "" || t < b) ? t : b }')
    done
    echo "$best"
}

printf '%-40s %10s %10s %8s\n' "64 MiB, best of $RUNS" morlink netcat ratio
for where in shaped loopback; do
    s_m=$(best "$where" "" send_morlink)
    s_n=$(best "$where" "" send_nc)
    r_m=$(best "$where" "$RECV_STEPS" recv_morlink)
    r_n=$(best "$where" "$RECV_STEPS" recv_nc)
    label=$([ "$where" = shaped ] && echo "100 Mbit/s veth" || echo "loopback")
    awk -v l="$label" -v sm="$s_m" -v sn="$s_n" -v rm="$r_m" -v rn="$r_n" 'BEGIN {
        printf "%-40s %9.3fs %9.3fs %8.3f\n", "send over TCP, " l, sm, sn, sm / sn
        printf "%-40s %9.3fs %9.3fs %8.3f\n", "receive a size answer, " l, rm, rn, rm / rn }'
done
