#!/usr/bin/env bash
# Takes a picture of Quorvane with the two examples open, under a private X
# server (xvfb-run), and leaves it in build/screenshot.png (or the path given).
#
# The program reads three variables at start-up for this:
#   QUORVANE_OPEN_FILES=master.qvf:slave.qvf  opens both as file sides, no dialog
#   QUORVANE_SELECT='HKEY_LOCAL_MACHINE\SOFTWARE\...'  selects that key in both trees
#   QUORVANE_SCREENSHOT=out.png  saves the main window there and quits
# Settings and the registry store go to a throw-away folder.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
rm -f "$out"

XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime" \
QUORVANE_REGISTRY="$scratch/registry.db" \
QUORVANE_OPEN_FILES="$PWD/examples/master.qvf:$PWD/examples/slave.qvf" \
QUORVANE_SELECT='HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane Demo' \
QUORVANE_SCREENSHOT="$out" \
  timeout 60 xvfb-run -a -s "-screen 0 1280x900x24" build/default/src/quorvane

[[ -s "$out" ]] || { echo "no screenshot was written" >&2; exit 1; }
echo "$out"
