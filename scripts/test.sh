#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite: first the readers and
# filters that take outside input under AddressSanitizer and UndefinedBehaviorSanitizer,
# then every test in an optimised build with debug information.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-format.sh

# The unit tests of what reads outside input: settings, programs, the bytes of a machine and
# of a device server (network), the unattended line (serve) and what the broker carries (shop).
sanitized=(support_fuzz_tests support_tests settings_tests app_tests codes_tests send_tests receive_tests
           network_tests serve_tests shop_text_tests library_listing_tests)
# The fuzz targets' committed corpus, replayed by a plain driver (no clang needed).
replays=(IniFuzzReplay MachineDefFuzzReplay ConfigFuzzReplay CommandLineFuzzReplay
         SkipRulesFuzzReplay ReceiveFuzzReplay SendBlockFuzzReplay HandOverFuzzReplay
         Rfc2217FuzzReplay ProgramScanFuzzReplay PortAddressFuzzReplay LineFileFuzzReplay
         BrokerAddressFuzzReplay ShopCommandFuzzReplay ShopStateFuzzReplay)
cmake --preset sanitize -DCORVANE_BUILD_FUZZ=ON >/dev/null
cmake --build --preset sanitize --target "${sanitized[@]}" "${replays[@]}"
for t in "${sanitized[@]}"; do
  echo "== $t (AddressSanitizer + UndefinedBehaviorSanitizer)"
  "build/sanitize/tests/$t" --gtest_brief=1
done
echo "== fuzz corpus replay (AddressSanitizer + UndefinedBehaviorSanitizer)"
ctest --test-dir build/sanitize -L fuzz --output-on-failure

cmake --preset ci
cmake --build --preset ci
ctest --preset ci --timeout 300

# The package the package test made, installed, tried and purged again: only where asked for
# (CI, a machine of its own, as root) and never over a Corvane already installed here.
deb=$(ls "$PWD"/build/ci/package-test/corvane_*.deb 2>/dev/null | head -n 1 || true)
if [[ "${CORVANE_TRY_PACKAGE:-0}" == 1 && -n "$deb" && $(id -u) -eq 0 ]]; then
  if dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q "install ok installed"; then
    echo "== package: corvane is installed on this machine already; not trying $deb"
  else
    echo "== package: install $deb, run, purge"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
    corvane-cli --version
    man -w corvane-cli
    id corvane
    id -nG corvane | tr ' ' '\n' | grep -qx dialout
    test -d /etc/corvane/lines && test -d /var/lib/corvane
    test "$(stat -c %U /var/lib/corvane)" = corvane
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq corvane >/dev/null
    if getent passwd corvane >/dev/null || test -e /var/lib/corvane || test -e /etc/corvane; then
      echo "package: purge left the user corvane, /var/lib/corvane or /etc/corvane behind" >&2
      exit 1
    fi
    echo "package: installed, ran and purged"
  fi
fi
