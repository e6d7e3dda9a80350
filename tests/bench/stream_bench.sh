#!/usr/bin/env bash
# Sending and receiving speed of morlink beside netcat, socat and a plain
# receiver on loopback (stream_bench.py prints the ratios). Not a test.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$ROOT/build-bench"
"$ROOT/tools/setup" bench
(cd "$ROOT" && cmake --preset build-bench >/dev/null && cmake --build --preset build-bench --target morlink plain_recv bench_sink bench_device >/dev/null)
python3 "$ROOT/tests/bench/stream_bench.py" "$BUILD" "${1:-5}"
