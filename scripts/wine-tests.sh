#!/usr/bin/env bash
# Builds the core and its tests for Windows (the mingw preset) and runs them
# under Wine, headless. Exits with CTest's status.
#
# Wine is made predictable first: a prefix of our own inside the build
# folder, no display, no Mono/Gecko install prompts, no desktop menu entries.
# One persistent wineserver is started and the prefix booted before CTest,
# so that no test waits on Wine's first-run setup or on its service
# processes; that server is stopped again on the way out.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$source_dir/build/mingw"
cd "$source_dir"

export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

# Seconds per step, reported at the end: this is what CI pays.
timings=""
step() { timings+="  $1: $(( SECONDS - step_start )) s"$'\n'; step_start=$SECONDS; }
SECONDS=0
step_start=0

cmake --preset mingw
step configure
cmake --build --preset mingw
step build

# Wine's service processes inherit the output of whoever starts them, so
# the server and the boot write to a log: a pipe reading this script's
# output is not held open by them.
mkdir -p "$WINEPREFIX"
wine_log="$build_dir/wineboot.log"
if wineserver -p >"$wine_log" 2>&1 </dev/null; then
  # Stop only the server started here, whatever way the script ends.
  trap 'wineserver -k 2>/dev/null || true' EXIT
else
  echo "wine-tests: a wineserver already runs for $WINEPREFIX; using it"
fi
if ! wine wineboot --init >>"$wine_log" 2>&1 </dev/null; then
  cat "$wine_log" >&2
  echo "wine-tests: the Wine prefix did not boot" >&2
  exit 1
fi
# Windows and controls without any display: the null graphics driver. The
# desktop process the boot started keeps the driver it started with, and a
# window program then waits seconds on it at every start; so a prefix that
# did not have the setting yet is booted once more with it.
if ! wine reg query 'HKCU\Software\Wine\Drivers' /v Graphics 2>/dev/null </dev/null | grep -q null; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$wine_log" 2>&1 </dev/null
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >>"$wine_log" 2>&1 </dev/null || true
  wine wineboot >>"$wine_log" 2>&1 </dev/null
fi
step "Wine prefix"

status=0
ctest --preset mingw || status=$?
step ctest

# quorvane.exe is a GUI program, yet --version reaches the shell that started
# it (under Wine its standard handles are this script's own).
version=$(wine "$build_dir/src/quorvane.exe" --version </dev/null 2>&1) || version="exit $?: $version"
if [[ "$version" == "quorvane "* ]]; then
  echo "wine-tests: quorvane.exe --version: $version"
else
  echo "wine-tests: quorvane.exe --version printed: $version" >&2
  status=1
fi

# quorvane-reg.exe on Wine's registry, checked with Wine's own reg.exe: a
# Cyrillic key and value name written by one is found by the other (reg
# export writes UTF-16, so nothing is lost to a code page on the way), our
# export compares equal to the live key, and a binary value reg.exe changes
# afterwards is found. A hive named as a side is refused with its reason.
# Runs the check function $1 in the background, so that set -e holds inside
# it (a condition would lift it), with its output kept in $build_dir/$2 and
# shown; says $3 when it passed, else $4, and fails the stage.
run_check() {
  local log=$build_dir/$2
  (set -e; "$1") </dev/null >"$log" 2>&1 &
  if wait $!; then
    cat "$log"
    echo "wine-tests: $3"
    return 0
  fi
  cat "$log" >&2
  echo "wine-tests: $4" >&2
  status=1
  return 1
}

wine_reg_check() {
  local qreg="$build_dir/src/tools/quorvane-reg.exe" key='HKCU\Software\Quorvane Тест' out
  cd "$build_dir"
  wine "$qreg" delete "$key" /f >/dev/null 2>&1 || true
  wine "$qreg" add "$key\\Подраздел" /v 'Ключ' /d 'Значение' /f
  wine "$qreg" add "$key" /v Bytes /t REG_BINARY /d 0102ff /f
  wine reg query "$key\\Подраздел" /v 'Ключ'
  wine reg export "$key" wine-export.reg /y
  iconv -f UTF-16 -t UTF-8 wine-export.reg | tr -d '\r' | grep -Fx '"Ключ"="Значение"'
  out=$(wine "$qreg" query "$key" /s)
  printf '%s\n' "$out"
  grep -q 'Ключ *REG_SZ *Значение' <<<"$out"
  wine "$qreg" export "$key" qreg-export.reg /y
  wine "$qreg" compare "$key" "qreg-export.reg::$key" /s
  wine reg add "$key" /v Bytes /t REG_BINARY /d 0103ff /f
  local code=0
  wine "$qreg" compare "$key" "qreg-export.reg::$key" /s || code=$?
  [[ $code -eq 2 ]] || { echo "compare after the change: exit $code, not 2"; return 1; }
  printf 'regf' >not-whole.hiv
  code=0
  out=$(wine "$qreg" query "not-whole.hiv::HKLM\\Software" 2>&1) || code=$?
  printf '%s\n' "$out"
  [[ $code -eq 1 ]] && grep -q 'Linux' <<<"$out"
}
run_check wine_reg_check quorvane-reg.txt "quorvane-reg.exe and Wine's reg.exe agree" \
  "quorvane-reg.exe against Wine's registry failed"
step "quorvane-reg.exe"

# The installer puts both programs in Program Files\Quorvane (quorvane.exe
# only when this build makes it, and with it the Start menu entry and the
# .qvf association), the installed quorvane-reg.exe runs and finds the
# uninstall entry, and uninstalling takes all of it away again.
msi_check() {
  local pf="$WINEPREFIX/drive_c/Program Files/Quorvane" out lnk='*/Start Menu/Programs/Quorvane.lnk'
  wine msiexec /i "$msi" /qn
  [[ -f "$pf/quorvane-reg.exe" ]]
  out=$(wine 'C:\Program Files\Quorvane\quorvane-reg.exe' query \
          'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r')
  grep -q 'DisplayName *REG_SZ *Quorvane$' <<<"$out"
  if [[ -f "$build_dir/packaging/windows/msi/quorvane.exe" ]]; then
    [[ -f "$pf/quorvane.exe" ]]
    out=$(wine reg query 'HKCR\.qvf' /ve | tr -d '\r')
    grep -q 'REG_SZ *Quorvane.TreeFile$' <<<"$out"
    out=$(wine reg query 'HKCR\Quorvane.TreeFile\shell\open\command' /ve | tr -d '\r')
    grep -qF '"C:\Program Files\Quorvane\quorvane.exe" "%1"' <<<"$out"
    [[ -n $(find "$WINEPREFIX/drive_c" -path "$lnk") ]]
  else
    echo "this build makes no quorvane.exe: the installer holds quorvane-reg.exe alone"
  fi
  wine msiexec /x "$msi" /qn
  [[ ! -e "$pf" && -z $(find "$WINEPREFIX/drive_c" -path "$lnk") ]]
  if wine reg query 'HKCR\.qvf' >/dev/null 2>&1; then echo ".qvf is still associated"; return 1; fi
}
cmake --build --preset mingw --target quorvane_msi
msi=$(ls -t "$build_dir"/packaging/windows/quorvane-*-x64.msi | head -n 1)
# A failed one is not left installed for the next run.
run_check msi_check msi.txt "the .msi installs and uninstalls" "the .msi failed" ||
  wine msiexec /x "$msi" /qn >/dev/null 2>&1 </dev/null || true
step ".msi"

# The prefix's own files, opened as quorvane-reg opens them, hold what
# Wine's reg.exe exports for the same keys. The server is stopped first so
# the files hold everything; each export starts one that reads them again.
# (Keys Wine makes at run time, such as NetworkCards, are not in the files.)
cmake --build --preset default --target quorvane-reg >/dev/null
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
for key in 'HKCU\Control Panel' 'HKLM\Software\Classes\CLSID' 'HKLM\System\CurrentControlSet\Services'; do
  wine reg export "$key" "$build_dir/export.reg" /y >>"$wine_log" 2>&1 </dev/null
  if build/default/src/tools/quorvane-reg compare "$WINEPREFIX::$key" "$build_dir/export.reg::$key" /s \
      >"$build_dir/compare.txt" 2>&1; then
    echo "wine-tests: $key in the prefix's files equals Wine's export"
  else
    cat "$build_dir/compare.txt" >&2
    echo "wine-tests: $key in the prefix's files differs from Wine's export" >&2
    status=1
  fi
done
step "prefix against reg export"

# The prefix as a writable Slave: the Linux build writes a key with a
# Cyrillic name and value, binary and multi-string data into user.reg while
# no wineserver runs, and Wine's reg.exe reads them back (its export is
# UTF-16, so nothing is lost to a code page).
cmake --build --preset default --target qv-wine-prefix-write >/dev/null
wine_write_check() {
  local key='HKCU\Software\Quorvane Wine Тест' out
  wine reg delete "$key" /f >/dev/null 2>&1 || true  # what an earlier run wrote
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  build/default/tests/tools/qv-wine-prefix-write "$WINEPREFIX"
  wine reg export "$key" "$build_dir/wine-write.reg" /y
  out=$(iconv -f UTF-16 -t UTF-8 "$build_dir/wine-write.reg" | tr -d '\r')
  printf '%s\n' "$out"
  grep -Fx '"Ключ"="Значение"' <<<"$out"
  grep -Fx '"Bytes"=hex:01,02,ff' <<<"$out"
  grep -Fx '"Multi"=hex(7):6f,00,6e,00,65,00,00,00,34,04,32,04,30,04,00,00,00,00' <<<"$out"
  [[ -f "$WINEPREFIX/user.reg.quorvane-bak" ]]
}
run_check wine_write_check wine-write.txt "a key written into the prefix's files is read back by Wine's reg.exe" \
  "writing the prefix's files failed, or Wine's reg.exe did not read it back"
rm -f "$WINEPREFIX/user.reg.quorvane-bak"
step "prefix written"

printf 'wine-tests: %d s from configure to summary (ctest status %d)\n%s' "$SECONDS" "$status" "$timings"
exit "$status"
