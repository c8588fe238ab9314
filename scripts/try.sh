#!/usr/bin/env bash
# Sets up, builds and starts Quorvane on the two examples with a Slave to try
# a sync on: "this computer's registry" is a scratch store in build/try, made
# from examples/slave.reg on first run, and so is the undo journal, so Copy
# to Slave, Delete and Undo change nothing of yours. --fresh starts again
# from the example; other arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane quorvane-reg
try=$PWD/build/try
if [[ ${1:-} == --fresh ]]; then
  rm -rf "$try"
  shift
fi
mkdir -p "$try"
export QUORVANE_REGISTRY=$try/registry.db XDG_STATE_HOME=$try/state
if [[ ! -e $try/.made ]]; then
  rm -f "$try"/registry.db*
  build/default/src/tools/quorvane-reg import examples/slave.reg >/dev/null
  touch "$try/.made"
fi
exec build/default/src/quorvane --select 'HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane Demo' "$@" examples/master.qvf local
