#!/usr/bin/env bash
# Holds the sources to the layering: a folder includes only from the folders
# listed for it here, all of them below it. A qt/ or win32/ subfolder is a
# layer of its own above its parent (the parent never includes it). Prints every include
# that breaks the table and exits 1 if there is one.
#   scripts/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [res]=""
  [model]="res"
  [registry]="files model res"
  [files]="model res"
  [compare]="model files res"
  [edit]="compare model files res"
  [framework]="model files res"
  [framework/qt]="framework model files res"
  [framework/win32]="framework model files res"
  [dialogs]="framework model files res"
  [panes]="dialogs framework compare edit files model res"
  [panes/qt]="panes framework/qt dialogs framework compare edit files model res"
  [panes/win32]="panes framework/win32 dialogs framework compare edit files model res"
  [sources]="registry files model res"
  [app]="panes dialogs framework compare edit files model registry res"
  [app/qt]="app sources panes/qt panes framework/qt dialogs framework compare edit files model registry res"
  [app/win32]="app sources panes/win32 panes framework/win32 dialogs framework compare edit files model registry res"
  [tools]="sources registry compare edit files model res"
)

# The layer a path belongs to: its folder below src/ (or res), a qt/ subfolder
# or win32/ kept, any other subfolder folded into its parent (registry/remote is registry).
layer_of() {
  local p=${1#src/}
  local dir=${p%/*}
  [[ "$dir" == "$p" ]] && { echo ""; return; }
  local top=${dir%%/*}
  [[ "$dir" == */qt || "$dir" == */qt/* ]] && top="$top/qt"
  [[ "$dir" == */win32 || "$dir" == */win32/* ]] && top="$top/win32"
  echo "$top"
}

bad=0
checked=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  if [[ -z "${allowed[$from]+set}" ]]; then
    echo "$file: folder '$from' has no row in the layer table"
    bad=1
    continue
  fi
  while IFS= read -r inc; do
    to=$(layer_of "src/$inc")
    [[ -z "$to" || "$to" == "$from" ]] && continue
    if [[ " ${allowed[$from]} " != *" $to "* ]]; then
      echo "$file: includes \"$inc\" ($from may not include $to)"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  checked=$((checked + 1))
done < <(find src res -name '*.h' -o -name '*.cpp' | sort)

echo "check-layers: $checked files checked"
exit $bad
