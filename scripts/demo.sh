#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds what the demonstration runs and shows a send to a
# machine tool: the simulated machine (cnc-sim) reads a milling program over a pseudo-terminal
# at about 9600 baud, holding the line with XOFF whenever its buffer fills, while corvane-cli
# prints the transfer log. Afterwards the bytes the machine received are shown.
#
# Only corvane-cli and cnc-sim are built (optimised, in build/demo) and only what they need is
# installed; scripts/test.sh builds and tests everything.
set -euo pipefail
cd "$(dirname "$0")/.."

CORVANE_DEPS=demo CORVANE_QUIET=1 scripts/install-deps.sh

tree=build/demo
jobs=${CORVANE_JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "Building corvane-cli and cnc-sim (optimised) in $tree"
log=$tree.log
mkdir -p build
# The build's own output is kept in build/demo.log and shown only when something fails.
if ! { cmake -S . -B "$tree" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
         -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_TESTS=OFF &&
       cmake --build "$tree" -j "$jobs" --target corvane-cli cnc-sim; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed (the log above is in $log)" >&2
  exit 1
fi

cli=$tree/src/cli/corvane-cli
sim=$tree/tools/cnc-sim/cnc-sim
program=examples/programs/BRACKET.NC

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-demo.XXXXXX")
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The sample machine as it is. A pseudo-terminal has no baud rate of its own, so Corvane
# paces the characters at the machine's 9600 baud, as a real line would.
cp examples/machines/VMC-ISO-XONXOFF.MDF "$work/MACHINE.MDF"
: >"$work/demo.cfg" # an empty configuration: the defaults, whatever this user has set up

# The machine: takes characters off the line at 960 a second (9600 baud) into a buffer of 128
# and executes 500 a second from it, so it sends XOFF whenever the buffer runs full.
"$sim" read --line-cps 960 --cps 500 --buffer 128 --record "$work/received.bin" \
  --exit-after-ms 120000 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!

device=""
for _ in $(seq 1 100); do
  if [[ -s "$work/sim.out" ]]; then
    device=$(sed -n '1s/^device //p' "$work/sim.out")
    break
  fi
  sleep 0.05
done
if [[ -z "$device" ]]; then
  echo "demo: the simulated machine did not start:" >&2
  cat "$work/sim.err" >&2
  exit 1
fi

echo
echo "== corvane-cli send -m VMC-ISO-XONXOFF.MDF -p $device $program"
echo
"$cli" --cfg "$work/demo.cfg" send -m "$work/MACHINE.MDF" -p "$device" "$program"

# The machine ends its program at the DC4 that closes the send, then reports.
wait "$sim_pid" || true
sim_pid=""

echo
echo "== The machine's report"
sed -n '2,$p' "$work/sim.out"
echo
echo "== What the machine received ($(stat -c %s "$work/received.bin") bytes; ^R is the DC2 start"
echo "   code, ^@ a null, \$ the end of a block (LF), ^T the DC4 stop code)"
echo
cat -A "$work/received.bin" | sed 's/\(\^@\)\{4,\}/^@^@^@.../g'
echo
exit 0
