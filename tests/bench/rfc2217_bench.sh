#!/usr/bin/env bash
# The port server link against the plain TCP link through the same ser2net to
# a pseudo-terminal, 1 MiB each way (rfc2217_bench.py). Everything stays on
# 127.0.0.1.
#   tests/bench/rfc2217_bench.sh [RUNS]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
"$ROOT/tools/setup" bench ports
(cd "$ROOT" && cmake --preset build-bench >/dev/null && cmake --build --preset build-bench --target morlink >/dev/null)
/usr/bin/python3 "$ROOT/tests/bench/rfc2217_bench.py" "$ROOT/build-bench/code/morlink" "${1:-5}"
