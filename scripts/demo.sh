#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Corvane and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci
build/ci/src/cli/corvane-cli --help
