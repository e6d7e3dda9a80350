#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/), runs the CRC benchmark, then
# times a whole `pakwrap <in> <out> /s` run on a 256 MiB SH3 image against `cat`
# copying the image and reading it once more: two passes and an output; and
# `pakwrap <image> /v` on the stamped image, which reads it once.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$ROOT/build-bench"
RUNS=5

"$ROOT/tools/setup" bench

(cd "$ROOT" && cmake --preset build-bench >/dev/null && cmake --build --preset build-bench --target crc_bench pakwrap)

"$BUILD/tests/bench/crc_bench"

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
IMAGE="$TMP/image.sh3"
{ printf 'SH3\0'; head -c 144 /dev/zero; head -c $((256 * 1024 * 1024 - 148)) /dev/urandom; } >"$IMAGE"
cat "$IMAGE" >/dev/null # warm the page cache

# Writes the sorted wall times in seconds of RUNS runs of "$2..." to file $1.
time_runs() {
    local out=$1
    shift
    : >"$out.raw"
    for ((i = 0; i < RUNS; i++)); do
        rm -f "$TMP/out"
        sync
        local t0=$EPOCHREALTIME
        "$@"
        local t1=$EPOCHREALTIME
        awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }' >>"$out.raw"
    done
    sort -n "$out.raw" >"$out"
}
pakwrap_run() {
    "$BUILD/code/pakwrap/pakwrap" "$IMAGE" "$TMP/out" /s >/dev/null || { echo "pakwrap failed" >&2; exit 1; }
}
cat_pair() { cat "$IMAGE" >"$TMP/out"; cat "$IMAGE" >/dev/null; }
verify_run() {
    "$BUILD/code/pakwrap/pakwrap" "$TMP/stamped" /v >/dev/null || { echo "pakwrap /v failed" >&2; exit 1; }
}

time_runs "$TMP/pak.times" pakwrap_run
OUTSIZE=$(stat -c %s "$TMP/out")
time_runs "$TMP/cat.times" cat_pair
rm -f "$TMP/out"
"$BUILD/code/pakwrap/pakwrap" "$IMAGE" "$TMP/stamped" /s >/dev/null
time_runs "$TMP/verify.times" verify_run
mapfile -t PAK <"$TMP/pak.times"
mapfile -t CAT <"$TMP/cat.times"
mapfile -t VER <"$TMP/verify.times"
MID=$((RUNS / 2))

echo "Whole run on a 256 MiB SH3 image, $RUNS runs each (output $OUTSIZE bytes)"
printf '  pakwrap /s      : best %s s  median %s s\n' "${PAK[0]}" "${PAK[$MID]}"
printf '  cat copy + read : best %s s  median %s s\n' "${CAT[0]}" "${CAT[$MID]}"
printf '  pakwrap /v      : best %s s  median %s s\n' "${VER[0]}" "${VER[$MID]}"
awk -v p="${PAK[0]}" -v c="${CAT[0]}" -v pm="${PAK[$MID]}" -v cm="${CAT[$MID]}" 'BEGIN {
    printf "  pakwrap/cat     : best %.2f  median %.2f\n", p / c, pm / cm
    printf "  goal <= 1.5x    : %s\n", (p / c <= 1.5 ? "met" : "NOT met") }'
