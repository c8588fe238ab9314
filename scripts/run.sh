#!/usr/bin/env bash
# Sets up, builds and starts Quorvane on this computer's registry store.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane
exec build/default/src/quorvane "$@"
