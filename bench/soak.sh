#!/usr/bin/env bash
# Builds the optimised preset and runs the soak: 100 MB sent and 100 MB received through
# cnc-sim, byte for byte, memory flat. Arguments go to soak_bench (--mb N, --paced-seconds N,
# --seed N, --keep, send|paced|receive). Takes 30 to 45 minutes on two shared cores.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_WITH_BENCH=1 scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target soak_bench
exec build/release/bench/soak_bench "$@"
