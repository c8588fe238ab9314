#!/usr/bin/env bash
# Builds Quorvane (Release, in build/package, tests and benchmarks left out)
# and makes its two Debian packages with CPack:
#   quorvane_VERSION_ARCH.deb        the desktop program
#   quorvane-tools_VERSION_ARCH.deb  quorvane-reg and quorvane-regd
# Prints the folder that holds them (build/package/debs). The build folder is
# kept, so a second run only builds what changed.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package >&2

build=build/package
out=$build/debs
if [[ ! -f $build/CMakeCache.txt ]]; then
  # Debian's hardening flags (fortify, stack protector, relro, bindnow),
  # read by CMake on the first configure only.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CXXFLAGS LDFLAGS
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >&2
cmake --build "$build" -j2 >&2

rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$PWD/debs") >&2
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb >&2
realpath "$out"
