#!/usr/bin/env bash
# The forced load of a 10,000-key subtree over MS-RRP: Quorvane's back end
# beside Samba's own `net rpc registry export` of the same key, against the
# same loopback Samba peer (scripts/smb-peer.sh), in one run. Prints both
# figures. Needs root (as the peer does) and a built tree.
#   bench/rrp_load_bench.sh [BUILD_DIR]     (default build/default; port QV_RRP_PORT or 4454)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/default}
export QV_RRP_PORT=${QV_RRP_PORT:-4454}
user=${QV_RRP_USER:-qv-rrp}
password=${QV_RRP_PASSWORD:-Qv-Rrp-Test-2026}
dir=$(mktemp -d /tmp/qv-rrp-bench.XXXXXX)
secrets=$(mktemp -d)
chmod 700 "$secrets"
finish() {
  "$here/scripts/smb-peer.sh" stop "$dir" >/dev/null || true
  rm -rf "$dir" "$secrets"
}
trap finish EXIT
# Credentials through files only: nothing secret on a command line.
printf 'username=%s\npassword=%s\n' "$user" "$password" >"$secrets/auth"
printf '%s\n' "$password" >"$secrets/password"

"$here/scripts/smb-peer.sh" start "$dir" >/dev/null
# 100 groups of 100 keys, each leaf with a string and a number: 10,101 keys
# and 20,000 values. UTF-16LE with a BOM and CRLF, as regedit writes it; a
# blank line last, or the import drops the last key.
{
  printf 'Windows Registry Editor Version 5.00\n\n[HKLM\\Software\\Quorvane Bench]\n'
  awk 'BEGIN { for (g = 0; g < 100; g++) { printf "\n[HKLM\\Software\\Quorvane Bench\\G%02d]\n", g
               for (k = 0; k < 100; k++) printf "\n[HKLM\\Software\\Quorvane Bench\\G%02d\\K%02d]\n\"Name\"=\"leaf %d.%d\"\n\"Number\"=dword:%08x\n", g, k, g, k, g * 100 + k } }'
  printf '\n'
} | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$dir/bench.reg"
start=$(date +%s.%N)
if ! net -s "$dir/smb.conf" registry import "$dir/bench.reg" >"$dir/import.log" 2>&1; then
  cat "$dir/import.log" >&2
  exit 1
fi
echo "seeded 10,101 keys in $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"

QUORVANE_SMB_USER=$user QUORVANE_SMB_PASSWORD_FILE=$secrets/password \
  "$build/bench/bench_rrp_load" "smb://127.0.0.1:$QV_RRP_PORT" 'Software\Quorvane Bench'
start=$(date +%s.%N)
net rpc registry export 'HKLM\Software\Quorvane Bench' "$dir/export.reg" -S 127.0.0.1 -p "$QV_RRP_PORT" \
  -A "$secrets/auth" >/dev/null
echo "samba net rpc registry export: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s" \
  "for $(grep -c '^\[' "$dir/export.reg") keys"
