#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset, clang) and runs each for a while with the
# committed corpus, then merges the inputs that found new code back into fuzz/corpus/<target>.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 600 seconds, every target, one at a time
#
# The machine is shared, so every run is niced and single-process. Logs go to
# build/fuzz/logs/<target>.log, crashes to build/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
# Settings files and program pieces are small; longer inputs only slow the search down.
max_len=${CORVANE_FUZZ_MAX_LEN:-16384}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(IniFuzz MachineDefFuzz ConfigFuzz CommandLineFuzz SkipRulesFuzz ReceiveFuzz
           SendBlockFuzz HandOverFuzz Rfc2217Fuzz ProgramScanFuzz PortAddressFuzz LineFileFuzz
           BrokerAddressFuzz ShopCommandFuzz ShopStateFuzz)
fi

CORVANE_WITH_FUZZ=1 scripts/install-deps.sh

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

root=$PWD
mkdir -p build/fuzz/logs
status=0
for t in "${targets[@]}"; do
  corpus=$root/fuzz/corpus/$t
  work=$root/build/fuzz/work/$t
  artifacts=$root/build/fuzz/artifacts/$t
  mkdir -p "$corpus" "$work" "$artifacts"
  log=$root/build/fuzz/logs/$t.log
  echo "== $t: ${seconds}s, log $log"
  # With -jobs the worker writes fuzz-0.log into the current folder: give it one of its own.
  run=$root/build/fuzz/logs/$t.run
  rm -rf "$run" && mkdir -p "$run"
  (cd "$run" && nice -n 19 "$root/build/fuzz/fuzz/$t" -jobs=1 -workers=1 \
      -max_total_time="$seconds" -max_len="$max_len" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$corpus") >"$log" 2>&1 || true
  cat "$run"/fuzz-*.log >>"$log" 2>/dev/null || true
  rm -rf "$run"
  # Rebuild the committed corpus as the hand-made seeds plus the fewest inputs that reach the
  # same edges (hit counts aside: that keeps it small). The full set stays in the work folder
  # for the next local run.
  fresh=$(mktemp -d)
  cp "$corpus"/seed-* "$fresh"/ 2>/dev/null || true
  if nice -n 19 "$root/build/fuzz/fuzz/$t" -merge=1 -use_counters=0 -max_len="$max_len" \
      "$fresh" "$corpus" "$work" >>"$log" 2>&1; then
    find "$corpus" -maxdepth 1 -type f -delete
    cp "$fresh"/* "$corpus"/
  fi
  rm -rf "$fresh"
  grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$log" | tail -1 || true
  if compgen -G "$artifacts/*" >/dev/null; then
    echo "   findings in $artifacts:"; ls "$artifacts"
    status=1
  fi
done
exit $status
