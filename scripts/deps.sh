#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
#   scripts/deps.sh run      what building and running the program needs
#   scripts/deps.sh package  building and checking the Debian packages (scripts/package.sh)
#   scripts/deps.sh test     everything the test suite needs as well
#   scripts/deps.sh screenshot  and what scripts/screenshot-windows.sh needs
set -euo pipefail

run_pkgs=(g++ cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev sqlite3 libgtest-dev
          libgmock-dev libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler
          libhivex-dev)
# Icons drawn at build time, the Debian packages made and checked.
package_pkgs=("${run_pkgs[@]}" librsvg2-bin dpkg-dev fakeroot file lintian desktop-file-utils
              shared-mime-info libglib2.0-bin systemd man-db)
# wine64 is the 64-bit loader only; the wine and wineserver commands come with wine.
# wixl (built from msitools) makes the Windows installer.
test_pkgs=("${package_pkgs[@]}" googletest xvfb xauth poppler-utils g++-mingw-w64-x86-64 wine wine64
           clang libclang-rt-14-dev openssl libssl-dev registry-tools libwin-hivex-perl wixl
           samba smbclient libsmbclient-dev)
# Wine's own Tahoma and Marlett fonts, and ImageMagick's import to grab the screen.
screenshot_pkgs=("${test_pkgs[@]}" fonts-wine imagemagick)

case "${1:-test}" in
  run) wanted=("${run_pkgs[@]}") ;;
  package) wanted=("${package_pkgs[@]}") ;;
  test) wanted=("${test_pkgs[@]}") ;;
  screenshot) wanted=("${screenshot_pkgs[@]}") ;;
  *) echo "usage: $0 run|package|test|screenshot" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# Debian's samba package starts smbd and nmbd on every interface as it installs. The tests run
# their own smbd on loopback (scripts/smb-peer.sh) and nothing else may listen, so while apt-get
# runs a policy-rc.d answering 101 ("action forbidden") keeps every package's service stopped.
# One put here is removed afterwards whatever happens; one that was already there is left alone.
policy=/usr/sbin/policy-rc.d
made_policy=0
remove_policy() { if ((made_policy)); then "${sudo[@]}" rm -f "$policy"; fi; }
if [[ ! -e $policy ]]; then
  trap remove_policy EXIT
  trap 'exit 130' INT TERM HUP
  made_policy=1
  printf '#!/bin/sh\n# Put here by scripts/deps.sh while it installs packages.\nexit 101\n' |
    "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
fi

"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
remove_policy
made_policy=0

# The package also enables its services for the next boot; undo that. Should a daemon have
# started all the same, stop it by its pid file and say so.
for p in "${missing[@]}"; do
  [[ $p == samba ]] || continue
  if command -v systemctl >/dev/null; then
    "${sudo[@]}" systemctl disable --quiet smbd nmbd samba-ad-dc 2>/dev/null || true
  fi
  for pidfile in /run/samba/{smbd,nmbd,samba-dcerpcd,winbindd}.pid; do
    pid=$(cat "$pidfile" 2>/dev/null || true)
    if ! [[ $pid =~ ^[0-9]+$ ]] || ! kill -0 "$pid" 2>/dev/null; then continue; fi
    echo "deps.sh: the samba package started $(basename "$pidfile" .pid) (pid $pid); stopping it" >&2
    "${sudo[@]}" kill "$pid"
  done
done
