#!/usr/bin/env bash
# A Samba smbd on loopback that serves \PIPE\winreg from its own registry database: the peer the
# Remote Registry tests talk to.
#   scripts/smb-peer.sh start DIR   write DIR/smb.conf and folders, seed the registry, start smbd
#   scripts/smb-peer.sh stop DIR    stop smbd and samba-dcerpcd started for DIR, wait till gone
#   scripts/smb-peer.sh env DIR     print the variables a client needs (not the password)
# Needs root (as CI runs it): it adds a unix user and group and smbd starts as root. Packages:
# samba smbclient (scripts/deps.sh test). Both commands are safe to repeat: start on a running
# peer only prints its pids; stop on a stopped one does nothing. start on a stopped peer throws
# away the registry a previous run left and seeds it afresh.
#
# Login: user qv-rrp (QV_RRP_USER), password QV_RRP_PASSWORD (a fixed test password unless set),
# on 127.0.0.1 port 4450 (QV_RRP_PORT).
#
# What makes it work (Samba 4.17, Debian bookworm):
# - smb.conf: interfaces = lo, bind interfaces only = yes, smb ports = 4450, disable netbios = yes.
#   restrict anonymous = 2, or an anonymous login reads HKLM.
# - Every directory Samba keeps (private, lock, state, cache, pid, ncalrpc) under DIR, all mode
#   0755: with 0700 every winreg open fails with NT_STATUS_NO_MEMORY.
# - The user comes from `smbpasswd -c CONF -s -a USER` (password twice on stdin). Without
#   `net -s CONF groupmap add sid=S-1-5-32-544 unixgroup=GROUP type=builtin`, the unix user being
#   in GROUP, every write is refused with access denied.
# - `net -s CONF registry import FILE.reg` seeds every value type; `net registry setvalue` takes
#   no binary. The .reg file is UTF-16LE with a BOM, as regedit writes it.
# - `smbd -D -s CONF` forks; the first winreg call makes it start samba-dcerpcd (and its
#   rpcd_winreg helper), which keeps its own pid file in the pid directory and outlives smbd
#   unless stopped too.
# - net registry import drops the file's last key when nothing follows its [key] line, so the
#   seed ends with a blank line.
# - The rpcd_* helpers and samba-dcerpcd write their start-up banner to /var/log/samba before
#   they read the configuration; the client tools (net rpc without -s) keep their messaging
#   sockets in /run/samba. Nothing listens there; everything else stays under DIR.
# - Asked for a value that is not there, net rpc registry getvalue says NT_STATUS_NO_SUCH_DEVICE.
# - Timings on a loaded 2-core machine: start 2.8-4.4 s (most of it smbpasswd, the import of
#   1,053 keys and smbd coming up), stop 1.3-2 s, scripts/smb-peer-check.sh whole about 21 s.
#   `net rpc registry export` of Wide (1,000 subkeys, no values) takes 1.6-3.2 s, about 0.4 s of
#   it the client's own CPU.
# - Try it by hand: net rpc registry enumerate 'HKLM\Software\Quorvane Test' \
#     -S 127.0.0.1 -p 4450 -U qv-rrp%PASSWORD      (getvalue, setvalue, export likewise)
# - Samba differs from Windows where a client must cope: EnumKey with a NULL class buffer gets
#   invalid parameter; QueryInfoKey's longest-name lengths come in bytes; on ERROR_MORE_DATA
#   EnumValue returns the caller's size, not the size needed; OpenHKCC is not served; last-write
#   times are 0.
# - Seeded: HKLM\Software\Quorvane Test with one value of each type (REG_SZ in Cyrillic,
#   REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD, REG_MULTI_SZ, the unnamed value), a chain
#   Deep\D01\...\D50 with "Depth"=50 at the bottom, and Wide with 1,000 empty subkeys
#   K0000..K0999.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
if [[ -z $dir || ! $cmd =~ ^(start|stop|env)$ ]]; then
  echo "usage: $0 start|stop|env DIR" >&2
  exit 2
fi
if [[ $(id -u) -ne 0 && $cmd != env ]]; then
  echo "$0: needs root (it adds a unix user and starts smbd)" >&2
  exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf=$dir/smb.conf
user=${QV_RRP_USER:-qv-rrp}
group=${QV_RRP_GROUP:-qv-rrp-admins}
port=${QV_RRP_PORT:-4450}
password=${QV_RRP_PASSWORD:-Qv-Rrp-Test-2026}
key='HKLM\Software\Quorvane Test'
subdirs=(private lock state cache pid ncalrpc log)

# The pid a daemon's pid file names, if that process still runs and is that daemon.
live_pid() {
  local name=$1 pid
  pid=$(cat "$dir/pid/$name.pid" 2>/dev/null || true)
  pid=${pid//[^0-9]/}
  [[ -n $pid ]] || return 1
  [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) == *"$name"* ]] || return 1
  echo "$pid"
}

# Runs a setup command with its chatter kept in DIR/log/setup.log, shown only if it fails.
quiet() {
  "$@" >>"$dir/log/setup.log" 2>&1 && return 0
  echo "smb-peer: failed: $1 (its output, from $dir/log/setup.log:)" >&2
  tail -n 20 "$dir/log/setup.log" >&2
  return 1
}

port_answers() {
  timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null
}

stop_peer() {
  local name pid pids=() i
  for name in smbd samba-dcerpcd; do
    if pid=$(live_pid "$name"); then
      kill -TERM "$pid" 2>/dev/null || true
      pids+=("$pid")
    fi
  done
  for ((i = 0; i < 100; i++)); do
    local alive=()
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive+=("$pid"); done
    [[ ${#alive[@]} -eq 0 ]] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      echo "smb-peer: pid $pid did not stop in 10 s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  # The daemons' children (smbd's per-connection processes, the rpcd_* helpers) name the
  # configuration file on their command line; none may be left.
  for ((i = 0; i < 50; i++)); do
    pids=()
    for pid in $(pgrep -f -- "$conf" || true); do pids+=("$pid"); done
    [[ ${#pids[@]} -eq 0 ]] && break
    if ((i == 30)); then kill -TERM "${pids[@]}" 2>/dev/null || true; fi
    sleep 0.1
  done
  if [[ ${#pids[@]} -gt 0 ]]; then
    echo "smb-peer: still running for $dir: ${pids[*]}" >&2
    return 1
  fi
  rm -f "$dir"/pid/*.pid
  return 0
}

write_conf() {
  cat >"$conf" <<EOF
# Written by scripts/smb-peer.sh: a test peer on loopback only.
[global]
  server role = standalone server
  netbios name = QVPEER
  workgroup = QVTEST
  interfaces = lo
  bind interfaces only = yes
  smb ports = $port
  disable netbios = yes
  restrict anonymous = 2
  map to guest = never
  passdb backend = tdbsam
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/pid
  ncalrpc dir = $dir/ncalrpc
  binddns dir = $dir/private
  log file = $dir/log/%m.log
  max log size = 1000
  log level = 1
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  usershare max shares = 0
EOF
}

# UTF-8 text as the comma-separated hex of its UTF-16LE form, with the terminating nul.
hex16() {
  { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } |
    od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

write_seed() {
  local reg=$1 path i
  {
    printf 'Windows Registry Editor Version 5.00\n\n'
    printf '[%s]\n' "$key"
    printf '@="unnamed value"\n'
    printf '"Text"="Привет, мир"\n'
    printf '"Expand"=hex(2):%s\n' "$(hex16 '%SystemRoot%\system32')"
    printf '"Binary"=hex:00,01,02,7f,80,fe,ff\n'
    printf '"Number"=dword:12345678\n'
    printf '"Big"=hex(b):ef,cd,ab,89,67,45,23,01\n'
    printf '"Lines"=hex(7):%s,%s,00,00\n' "$(hex16 one)" "$(hex16 два)"
    path="$key\\Deep"
    printf '\n[%s]\n' "$path"
    for ((i = 1; i <= 50; i++)); do
      path+=$(printf '\\D%02d' "$i")
      printf '\n[%s]\n' "$path"
    done
    printf '"Depth"=dword:%08x\n' 50
    printf '\n[%s\\Wide]\n' "$key"
    for ((i = 0; i < 1000; i++)); do printf '\n[%s\\Wide\\K%04d]\n' "$key" "$i"; done
    printf "\n"  # net registry import drops a last key that nothing follows
  } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
}

start_peer() {
  local smbd_pid
  if smbd_pid=$(live_pid smbd); then
    echo "smbd $smbd_pid (already running)"
    live_pid samba-dcerpcd >/dev/null && echo "samba-dcerpcd $(live_pid samba-dcerpcd)"
    return 0
  fi
  stop_peer  # a samba-dcerpcd or helper left from an earlier run
  if port_answers; then
    echo "smb-peer: port $port on 127.0.0.1 is taken by something else" >&2
    return 1
  fi

  # A fresh registry and password database each start, so every run sees the same seed.
  local d
  for d in "${subdirs[@]}"; do rm -rf "${dir:?}/$d"; done
  umask 022
  chmod 0755 "$dir"
  for d in "${subdirs[@]}"; do install -d -m 0755 "$dir/$d"; done
  write_conf

  getent group "$group" >/dev/null || groupadd --system "$group"
  if ! getent passwd "$user" >/dev/null; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
      --gid "$group" "$user"
  fi
  id -nG "$user" | tr ' ' '\n' | grep -qx -- "$group" || usermod -a -G "$group" "$user"
  printf '%s\n%s\n' "$password" "$password" | quiet smbpasswd -c "$conf" -s -a "$user"
  quiet net -s "$conf" groupmap add sid=S-1-5-32-544 unixgroup="$group" type=builtin

  write_seed "$dir/seed.reg"
  quiet net -s "$conf" registry import "$dir/seed.reg"

  smbd -D -s "$conf"
  local i
  for ((i = 0; i < 150; i++)); do
    port_answers && break
    sleep 0.1
  done
  if ! port_answers; then
    echo "smb-peer: smbd did not answer on 127.0.0.1:$port within 15 s (see $dir/log)" >&2
    stop_peer || true
    return 1
  fi
  echo "smbd $(live_pid smbd)"
}

case $cmd in
  start) start_peer ;;
  stop) stop_peer ;;
  env) printf 'QV_RRP_HOST=127.0.0.1\nQV_RRP_PORT=%s\nQV_RRP_USER=%s\n' "$port" "$user" ;;
esac
