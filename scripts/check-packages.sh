#!/usr/bin/env bash
# Makes the Debian packages (scripts/package.sh) and checks them as a user's
# machine would take them, without installing them: what each one holds,
# what it depends on, lintian, the desktop entry, the systemd unit, the man
# pages, the tree-file MIME type on real tree files, the bash completion, and
# the programs' own answers. Prints one line per check; exits 1 if any failed.
#   scripts/check-packages.sh
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

debs=$(scripts/package.sh) || { echo "check-packages: scripts/package.sh failed" >&2; exit 1; }
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
gui=$(ls "$debs"/quorvane_"$version"_*.deb 2>/dev/null)
tools=$(ls "$debs"/quorvane-tools_"$version"_*.deb 2>/dev/null)

failed=0
ok() { echo "ok    $*"; }
bad() { echo "FAIL  $*"; failed=1; }
check() {  # check DESCRIPTION COMMAND...: passes when the command does
  local what=$1; shift
  local output
  if output=$("$@" 2>&1); then ok "$what"; else bad "$what"; [[ -n $output ]] && sed 's/^/      /' <<<"$output"; fi
}
[[ -f $gui && -f $tools ]] || { bad "both packages made for version $version (in $debs)"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
mkdir -p "$root"
dpkg-deb -x "$gui" "$root" && dpkg-deb -x "$tools" "$root"

# --- contents ---------------------------------------------------------------
holds() {  # holds DEB PATH...: every PATH is in DEB
  local listing missing=()
  listing=$(dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|')
  shift
  for path in "$@"; do grep -qxF -- "$path" <<<"$listing" || missing+=("$path"); done
  [[ ${#missing[@]} -eq 0 ]] || { printf 'missing: %s\n' "${missing[@]}"; return 1; }
}
icons=()
for size in 16 22 24 32 48 64 128 256; do icons+=("/usr/share/icons/hicolor/${size}x${size}/apps/quorvane.png"); done
check "quorvane holds the program, desktop entry, icons, MIME type, man page" holds "$gui" \
  /usr/bin/quorvane /usr/share/applications/quorvane.desktop "${icons[@]}" \
  /usr/share/icons/hicolor/scalable/apps/quorvane.svg /usr/share/mime/packages/quorvane.xml \
  /usr/share/man/man1/quorvane.1.gz /usr/share/doc/quorvane/copyright /usr/share/doc/quorvane/changelog.gz
check "quorvane-tools holds both tools, man pages, completion, systemd unit" holds "$tools" \
  /usr/bin/quorvane-reg /usr/sbin/quorvane-regd /usr/share/man/man1/quorvane-reg.1.gz \
  /usr/share/man/man8/quorvane-regd.8.gz /usr/share/bash-completion/completions/quorvane-reg \
  /usr/lib/systemd/system/quorvane-regd.service /usr/share/doc/quorvane-tools/copyright \
  /usr/share/doc/quorvane-tools/changelog.gz
icon_sizes() {
  local size
  for size in 16 22 24 32 48 64 128 256; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/quorvane.png" | grep -q "PNG image data, $size x $size," ||
      { echo "the ${size}x${size} icon is not a PNG of that size"; return 1; }
  done
}
check "each icon is a PNG of its folder's size" icon_sizes

# --- dependencies (computed by dpkg-shlibdeps) --------------------------------
depends() {  # depends DEB [+NAME | -NAME]...: NAME among its Depends, or not
  local deps
  deps=$(dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
  shift
  for want in "$@"; do
    case $want in
      +*) grep -qx -- "${want#+}" <<<"$deps" || { echo "Depends lacks ${want#+}: $deps"; return 1; } ;;
      -*) ! grep -q -- "${want#-}" <<<"$deps" || { echo "Depends names ${want#-}: $deps"; return 1; } ;;
    esac
  done
}
check "quorvane depends on Qt Widgets, gRPC, SQLite, libsmbclient, libc" depends "$gui" +libqt6widgets6 +libgrpc++1.51 +libsqlite3-0 +libsmbclient +libc6
check "quorvane-tools depends on gRPC, SQLite, libsmbclient, libc and not on Qt" depends "$tools" +libgrpc++1.51 +libsqlite3-0 +libsmbclient +libc6 -libqt6

# --- lintian --------------------------------------------------------------------
lintian_errors() {
  local out
  out=$(lintian --fail-on error "$gui" "$tools" 2>&1) || { echo "$out"; return 1; }
  grep -q '^E:' <<<"$out" && { echo "$out"; return 1; }
  [[ -n $out ]] && echo "$out" | grep -E '^[EW]:' >&2
  return 0
}
check "lintian reports no error" lintian_errors

# --- desktop entry, systemd unit, man pages ----------------------------------
check "desktop-file-validate accepts the desktop entry" \
  desktop-file-validate "$root/usr/share/applications/quorvane.desktop"
# The unit as shipped, with ExecStart pointing into the unpacked package and
# man looking there for the page its Documentation= names.
mkdir -p "$scratch/unit"
sed "s|/usr/sbin/quorvane-regd|$root/usr/sbin/quorvane-regd|" "$root/usr/lib/systemd/system/quorvane-regd.service" \
  >"$scratch/unit/quorvane-regd.service"
check "systemd-analyze verify accepts the unit" \
  env MANPATH="$root/usr/share/man" systemd-analyze verify "$scratch/unit/quorvane-regd.service"
man_page() {  # renders with no warning from groff
  local out
  out=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)
  [[ -z $out ]] || { echo "$out"; return 1; }
  MANWIDTH=80 man -l "$1" 2>/dev/null | grep -q "^NAME"
}
for page in man1/quorvane.1 man1/quorvane-reg.1 man8/quorvane-regd.8; do
  check "man page $page renders without warnings" man_page "$root/usr/share/man/$page.gz"
done
check "quorvane(1) tells of --differences, the ignore list and the undo journal" \
  bash -c "page=\$(zcat '$root/usr/share/man/man1/quorvane.1.gz');
           [[ \$page == *'\\-\\-differences'* && \$page == *ignore.txt* && \$page == *'undo journal'* ]]"

# --- the programs ------------------------------------------------------------------
check "quorvane --version says $version without a display" \
  bash -c "[[ \$(env -u DISPLAY -u WAYLAND_DISPLAY '$root/usr/bin/quorvane' --version) == 'quorvane $version' ]]"
check "quorvane --help prints its usage without a display" \
  bash -c "env -u DISPLAY -u WAYLAND_DISPLAY '$root/usr/bin/quorvane' --help | grep -q '^Usage: quorvane \[OPTION\]\.\.\. \[MASTER \[SLAVE\]\]'"
check "quorvane --bogus says so with exit code 2 without a display" \
  bash -c "out=\$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '$root/usr/bin/quorvane' --bogus 2>&1); [[ \$? -eq 2 && \$out == *'unknown option --bogus'* ]]"
# The unit's own command line, with its state folder here and a free port.
regd_as_unit() {
  local cmd
  cmd=$(sed -n 's/^ExecStart=//p' "$scratch/unit/quorvane-regd.service")
  cmd=${cmd//%S/$scratch/state}
  cmd=${cmd/:7787/:0}
  mkdir -p "$scratch/state/quorvane"
  # shellcheck disable=SC2086  # the unit's words, as systemd splits them
  $cmd --exit-after 1 | grep -q '^listening on 127.0.0.1:' && [[ -s $scratch/state/quorvane/registry.db ]]
}
check "quorvane-regd serves with the unit's command line" regd_as_unit

# --- MIME type: real tree files, found by their content ----------------------------------
mime_type() {
  local share=$scratch/share
  mkdir -p "$share/mime/packages"
  cp "$root/usr/share/mime/packages/quorvane.xml" "$share/mime/packages/"
  update-mime-database "$share/mime" 2>/dev/null || return 1
  # Named so that only their first lines can tell: the example; a tree
  # quorvane-reg saves (its first line the root key's); a subtree as the
  # program saves it (the line "[]", then the keys above it).
  cp examples/master.qvf "$scratch/example"
  QUORVANE_REGISTRY=$scratch/tools.db "$root/usr/bin/quorvane-reg" add 'HKCU\Software\Quorvane Check' /v Name /d x /f >/dev/null &&
    QUORVANE_REGISTRY=$scratch/tools.db "$root/usr/bin/quorvane-reg" save 'HKCU\Software' "$scratch/saved.qvf" /y >/dev/null ||
    return 1
  mv "$scratch/saved.qvf" "$scratch/saved"
  printf '[]\r\n\r\n[\\HKEY_CURRENT_USER]\r\n\r\n[\\HKEY_CURRENT_USER\\Software]\r\n"a"="b"\r\n\r\n' >"$scratch/subtree"
  printf '[section]\r\nkey=value\r\n' >"$scratch/ini-file"
  local f type
  for f in example saved subtree ini-file; do
    type=$(XDG_DATA_HOME=$scratch/none XDG_DATA_DIRS=$share:/usr/share gio info -a standard::content-type "$scratch/$f" |
           sed -n 's/.*standard::content-type: //p')
    case $f:$type in
      ini-file:application/x-quorvane-tree) echo "$f taken for a tree file"; return 1 ;;
      ini-file:*) ;;
      *:application/x-quorvane-tree) ;;
      *) echo "$f: $type"; return 1 ;;
    esac
  done
}
check "the MIME type's magic knows real tree files (and not an INI file)" mime_type

# --- bash completion ----------------------------------------------------------------
completion() {
  bash -c '
    source "$1"
    complete -p quorvane-reg >/dev/null || exit 1
    t() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _quorvane_reg; echo "${COMPREPLY[*]}"; }
    [[ $(t quorvane-reg co) == compare ]] || { echo "operation: $(t quorvane-reg co)"; exit 1; }
    [[ $(t quorvane-reg export HKLM /) == "/y /regedit4 /?" ]] || { echo "export switches: $(t quorvane-reg export HKLM /)"; exit 1; }
    [[ $(t quorvane-reg add HKCU /t REG_M) == REG_MULTI_SZ ]] || { echo "types: $(t quorvane-reg add HKCU /t REG_M)"; exit 1; }
    [[ $(t quorvane-reg import "${1%?}") == "$1" ]] || { echo "an absolute path: $(t quorvane-reg import "${1%?}")"; exit 1; }
  ' _ "$root/usr/share/bash-completion/completions/quorvane-reg"
}
check "bash completion completes operations, switches and types" completion

if [[ $failed -ne 0 ]]; then
  echo "check-packages: some checks FAILED"
  exit 1
fi
echo "check-packages: both packages passed ($(basename "$gui"), $(basename "$tools"))"
