#!/usr/bin/env bash
# Installs what building and testing Corvane needs on Debian 12. Safe to run again.
#
#   CORVANE_DEPS=demo   only what corvane-cli and cnc-sim need (scripts/demo.sh)
#   CORVANE_QUIET=1     one line saying what is installed instead of apt's output
set -euo pipefail

# corvane-cli and cnc-sim: a compiler, CMake and Ninja, and the MQTT client library
# corvane-cli links.
packages=(cmake ninja-build g++ pkg-config libmosquitto-dev)
# JSON for the journal and the broker (nlohmann/json), SHA-256 for the journal (OpenSSL).
packages+=(nlohmann-json3-dev libssl-dev)

if [[ "${CORVANE_DEPS:-all}" != demo ]]; then
  packages+=(libgtest-dev libgmock-dev)
  # The window program: Qt 6 Widgets (its CMake files want the OpenGL headers), Qt's own
  # Japanese texts for standard buttons and dialogs, and a font for the offscreen platform
  # the GUI tests run on.
  packages+=(qt6-base-dev libgl-dev fonts-dejavu-core qt6-translations-l10n)
  # Japanese labels in the GUI screenshots need a font with kana and kanji.
  packages+=(fonts-ipafont-gothic)
  # The install test validates the desktop entry with desktop-file-validate.
  packages+=(desktop-file-utils)
  # Machines on the network: the tests put a real serial device server (ser2net) in front of
  # the simulated machine.
  packages+=(ser2net)
  # The restart tests check the restart header against LinuxCNC's standalone interpreter, rs274.
  packages+=(linuxcnc-uspace)
  # The shop-wide view: a real broker the tests start themselves, and its clients.
  packages+=(mosquitto mosquitto-clients)
  # The broker tests make their own CA and server certificate for TLS.
  packages+=(openssl)
  # The desktop tier: a real X server, a light window manager, xdotool to drive the window
  # and ImageMagick's import to take screenshots of it.
  packages+=(xvfb openbox xdotool imagemagick x11-utils)
  # A dark desktop for the desktop tier: qt6ct is how a desktop without its own Qt theme
  # gives Qt programs the user's palette; the tier uses its darker colour scheme.
  packages+=(qt6ct)
  # The shop page: npm fetches its pinned MQTT.js at build time, and the page tests drive
  # Debian's chromium headless. A node from elsewhere (with its own npm) is kept as it is:
  # Debian's npm package would fight it.
  packages+=(chromium)
  if ! command -v npm >/dev/null 2>&1; then
    packages+=(nodejs npm)
  fi
  # The man pages are written in scdoc. The Debian package is made by CPack with
  # dpkg-shlibdeps (dpkg-dev, which looks at the programs with file) and checked with
  # lintian; man-db answers `man -w` for the installed package.
  packages+=(scdoc dpkg-dev file lintian man-db)
  # The test script checks that the C++ sources are formatted as .clang-format says.
  packages+=(clang-format)
fi
if [[ "${CORVANE_WITH_BENCH:-0}" == 1 ]]; then
  # C-Kermit is the other sender bench/compare.sh measures Corvane against; GNU time gives
  # the peak memory of each program the soak and the comparison start.
  packages+=(libbenchmark-dev ckermit time)
fi
if [[ "${CORVANE_WITH_FUZZ:-0}" == 1 ]]; then
  # The fuzzers are built with clang and its libFuzzer runtime (scripts/fuzz.sh).
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

quiet=${CORVANE_QUIET:-0}
if ((${#missing[@]} == 0)); then
  if [[ "$quiet" == 1 ]]; then
    echo "Packages needed (already installed): ${packages[*]}"
  fi
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "Corvane needs these packages: ${missing[*]} (run as root, or install them first)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [[ "$quiet" == 1 ]]; then
  echo "Installing with apt: ${missing[*]}"
  log=$(mktemp "${TMPDIR:-/tmp}/corvane-apt.XXXXXX")
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
      >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
else
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
