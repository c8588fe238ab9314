#!/usr/bin/env bash
# Sets up, builds and runs every test: the whole suite, the unit tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer (and the fuzz targets
# built with clang), and the registry
# conformance suite against Wine's registry through the Windows build; last,
# the Debian packages are made and checked (scripts/check-packages.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test || exit 1

failed=0
run() {
  echo "== $*"
  "$@" || failed=1
}

run cmake --preset default
run cmake --build --preset default
run ctest --preset default -j2

run cmake --preset asan
run cmake --build --preset asan
run ctest --preset asan -j2 -L "unit|conformance"

# The fuzz targets build with clang and libFuzzer (their corpora are replayed
# above); built here so that the fuzzing the README describes keeps working.
run cmake --preset fuzz
run cmake --build --preset fuzz --target tree_file_fuzzer reg_file_fuzzer hive_fuzzer hive_log_fuzzer registry_service_fuzzer

if [[ -x scripts/wine-tests.sh ]]; then
  run scripts/wine-tests.sh
fi

# A Release build of the programs alone (build/package, kept between runs).
run scripts/check-packages.sh

if [[ $failed -ne 0 ]]; then
  echo "Some tests FAILED."
  exit 1
fi
echo "All test runs passed."
