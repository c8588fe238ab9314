#!/usr/bin/env bash
# Takes a picture of quorvane.exe under Wine with the two examples open and
# the program's key selected, and leaves it in docs/quorvane-windows.png (or
# the path given). The program runs in a Wine desktop window of its own on a
# private X server (Xvfb); ImageMagick's import grabs the screen.
#
# A prefix of its own (build/mingw/wineprefix-screenshot) with Wine's
# Tahoma and Marlett fonts (package fonts-wine) copied in: without Marlett
# the caption buttons draw as letters.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/quorvane-windows.png}")
scripts/deps.sh screenshot
cmake --preset mingw >/dev/null
cmake --build build/mingw --target quorvane >/dev/null

export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEPREFIX="$PWD/build/mingw/wineprefix-screenshot"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
wine wineboot --init >/dev/null 2>&1 </dev/null
# The window's place and dividers as on a first run.
wine reg delete 'HKCU\Software\Quorvane' /f >/dev/null 2>&1 </dev/null || true
fonts="$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf "$fonts/"

# The examples from a folder of the prefix's own, as a user would keep them.
mkdir -p "$WINEPREFIX/drive_c/Examples"
cp examples/master.qvf examples/slave.qvf "$WINEPREFIX/drive_c/Examples/"
examples='C:\Examples'
wine explorer /desktop=Quorvane,1024x768 build/mingw/src/quorvane.exe \
  --select 'HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane Demo' --differences "$examples\\master.qvf" "$examples\\slave.qvf" \
  >/dev/null 2>&1 </dev/null &
# Wine starts the desktop, the program opens both files and paints.
sleep "${QUORVANE_SHOT_WAIT:-12}"
mkdir -p "$(dirname "$out")"
import -display "$display" -window root "$out"
echo "$out"
