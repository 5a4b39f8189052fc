#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite: first the readers and
# filters that take outside input under AddressSanitizer and UndefinedBehaviorSanitizer,
# then every test in an optimised build with debug information.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

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
