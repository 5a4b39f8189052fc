#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci --timeout 300
