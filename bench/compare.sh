#!/usr/bin/env bash
# Builds the optimised preset and runs the comparison against cat and C-Kermit; arguments go
# to compare_bench (--mb N, --repeat N, --big-mb N, --skip-big, --keep, --before BUILD-DIR,
# --cost-only). About 10 minutes; 25 with --before.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_WITH_BENCH=1 scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target compare_bench
exec build/release/bench/compare_bench "$@"
