#!/usr/bin/env bash
# Builds an optimised tree (build/package-tree) with Debian's hardening flags and makes the
# Debian package from it with CPack: build/package/corvane_VERSION_ARCH.deb. Then lintian
# checks it (the warnings kept are listed in packaging/README.md).
#
#   scripts/package.sh            then, as root:  apt install ./build/package/corvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# The flags Debian builds its own packages with: fortified functions, stack protector,
# read-only relocations bound at start.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)

tree=build/package-tree
cmake -S . -B "$tree" -G Ninja "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCORVANE_BUILD_GUI=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$tree" -j2

rm -rf build/package
cpack --config "$tree/CPackConfig.cmake" -B build/package
rm -rf build/package/_CPack_Packages
deb=$(ls build/package/corvane_*.deb)
echo "package: $deb"

if command -v lintian >/dev/null; then
  # Errors fail the package; warnings are printed (each kept one has its reason in
  # packaging/README.md).
  lintian --fail-on error "$deb"
fi
