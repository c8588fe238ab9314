#!/usr/bin/env bash
# Starts the loopback Samba peer (scripts/smb-peer.sh), proves with Samba's own net tool that it
# answers winreg calls as the Remote Registry tests expect, and stops it. Exit status 0 when every
# check passed. Needs root, like smb-peer.sh.
#   scripts/smb-peer-check.sh [DIR]    (DIR defaults to a fresh temporary folder, removed after)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
peer=$here/smb-peer.sh
if [[ $# -ge 1 ]]; then
  dir=$1
  own_dir=0
else
  dir=$(mktemp -d /tmp/qv-smb-peer.XXXXXX)
  own_dir=1
fi
user=${QV_RRP_USER:-qv-rrp}
password=${QV_RRP_PASSWORD:-Qv-Rrp-Test-2026}
port=${QV_RRP_PORT:-4450}
export QV_RRP_USER=$user QV_RRP_PASSWORD=$password QV_RRP_PORT=$port
key='HKLM\Software\Quorvane Test'
failures=0

finish() {
  "$peer" stop "$dir" || failures=$((failures + 1))
  if [[ -f $dir/smb.conf ]] && pgrep -f -- "$dir/smb.conf" >/dev/null; then
    echo "FAIL: processes left running for $dir" >&2
    failures=$((failures + 1))
  fi
  ((own_dir)) && rm -rf "$dir"
  [[ -n ${cycle_start:-} ]] && echo "start, checks and stop took $(since "$cycle_start") s"
  if ((failures)); then echo "smb-peer-check: $failures check(s) failed"; exit 1; fi
  echo "smb-peer-check: all checks passed"
  exit 0
}
# net rpc registry against the peer; the credentials go through a file so no password shows in ps.
authfile=$(mktemp)
trap 'rm -f "$authfile"; finish' EXIT
printf 'username=%s\npassword=%s\n' "$user" "$password" >"$authfile"
rreg() { net rpc registry "$@" -S 127.0.0.1 -p "$port" -A "$authfile" 2>&1; }

since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

check() {  # check NAME EXPECTED ACTUAL
  if [[ $2 == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /'
    failures=$((failures + 1))
  fi
}

start=$(date +%s.%N)
cycle_start=$start
"$peer" start "$dir" || { failures=$((failures + 1)); exit 1; }
"$peer" start "$dir" >/dev/null || failures=$((failures + 1))  # a second start only reports
echo "started in $(since "$start") s"

# The seeded key's subkeys and every value type, byte for byte, as Samba's export writes them.
check "subkeys of the test key" $'Deep\nWide' \
  "$(rreg enumerate "$key" | sed -n 's/^Keyname   = //p')"
export_file=$dir/export.reg
rreg export "$key" "$export_file" >/dev/null
check "every value type" "$(cat <<'EOF'
@="unnamed value"
"Text"="Привет, мир"
"Expand"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\
  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00
"Binary"=hex:00,01,02,7f,80,fe,ff
"Number"=dword:12345678
"Big"=hex(b):ef,cd,ab,89,67,45,23,01
"Lines"=hex(7):6f,00,6e,00,65,00,00,00,34,04,32,04,30,04,00,00,00,00
EOF
)" "$(sed -n '/^\[HKLM\\Software\\Quorvane Test\]$/,/^$/p' "$export_file" | sed '1d;$d')"
check "keys in the tree (test key, Deep, 50 deep, Wide, 1,000 wide)" 1053 \
  "$(grep -c '^\[' "$export_file")"
deep=$key'\Deep'
for i in $(seq -w 1 50); do deep+="\\D$i"; done
check "value at the bottom of the 50-deep chain" 'Value      = 50' \
  "$(rreg getvalue "$deep" Depth | grep '^Value')"
check "subkeys of Wide" 1000 "$(rreg enumerate "$key\\Wide" | grep -c '^Keyname')"
check "a named REG_SZ read singly" 'Value      = "Привет, мир"' \
  "$(rreg getvalue "$key" Text | grep '^Value')"

# Everything the peer's processes listen on (smbd, samba-dcerpcd and its helpers, running now)
# is on loopback.
pids=$(pgrep -d'|' -f -- "$dir/smb.conf")
listeners=$(ss -Hltunp 2>/dev/null | grep -E "pid=($pids)," | awk '{ print $5 }' | sort -u)
check "smbd listens on port $port" yes "$(grep -qE ":$port\$" <<<"$listeners" && echo yes)"
check "nothing listens beyond loopback" "" \
  "$(grep -vE '^(127\.0\.0\.1|\[::1\]|\[::ffff:127\.0\.0\.1\]):' <<<"$listeners")"

# Writing: a new value and a changed one, read back.
rreg setvalue "$key" Written sz 'written through winreg' >/dev/null
check "write a REG_SZ and read it back" 'Value      = "written through winreg"' \
  "$(rreg getvalue "$key" Written | grep '^Value')"
rreg setvalue "$key" Number dword 7 >/dev/null
check "change a REG_DWORD and read it back" 'Value      = 7' \
  "$(rreg getvalue "$key" Number | grep '^Value')"
rreg createkey "$key\\Made" >/dev/null
check "create a key" $'Deep\nMade\nWide' \
  "$(rreg enumerate "$key" | sed -n 's/^Keyname   = //p' | sort)"

# Refused: a wrong password, an anonymous login, a user that does not exist.
for who in "$user%not-the-password" "%" "qv-nobody%x"; do
  out=$(net rpc registry enumerate "$key" -S 127.0.0.1 -p "$port" -U "$who" 2>&1)
  status=$?
  refused=no
  [[ $status -ne 0 && $out == *NT_STATUS_* && $out != *Keyname* ]] && refused=yes
  check "login as '$who' (user%password) is refused" yes "$refused"
done
out=$(net rpc registry enumerate "$key" -S 127.0.0.1 -p "$port" -N 2>&1)
[[ $? -ne 0 && $out != *Keyname* ]] && refused=yes || refused=no
check "login without a password (-N) is refused" yes "$refused"

# The yardstick for the client: Samba exporting the 1,000-subkey key.
for run in 1 2 3; do
  t0=$(date +%s.%N)
  rreg export "$key\\Wide" "$dir/wide.reg" >/dev/null
  echo "export of Wide (1,000 subkeys), run $run: $(since "$t0") s"
done
