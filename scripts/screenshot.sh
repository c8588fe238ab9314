#!/usr/bin/env bash
# Takes a picture of Quorvane with the two examples open, under a private X
# server (xvfb-run), and leaves it in build/screenshot.png (or the path given).
#
# The sides are named on the command line as a user names them; two options
# meant for testing and documentation do the rest:
#   --select 'HKEY_LOCAL_MACHINE\SOFTWARE\...'  selects that key in both trees
#   --screenshot out.png                        saves the main window there and quits
# Settings and the registry store go to a throw-away folder. With
# QUORVANE_BUILD_DIR set, the program built there is used as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
build=${QUORVANE_BUILD_DIR:-build/default}
if [[ -z "${QUORVANE_BUILD_DIR:-}" ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target quorvane
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
rm -f "$out"

XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime" \
QUORVANE_REGISTRY="$scratch/registry.db" \
  timeout 60 xvfb-run -a -s "-screen 0 1280x900x24" "$build/src/quorvane" \
    --select 'HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane Demo' --screenshot "$out" \
    examples/master.qvf examples/slave.qvf

[[ -s "$out" ]] || { echo "no screenshot was written" >&2; exit 1; }
echo "$out"
