#!/usr/bin/env bash
# Every include of src/ points down the layer table of src/README.md: a folder includes
# its own headers and those of the folders below it, nothing else.
set -euo pipefail
src="${1:-$(dirname "$0")/../../src}"
declare -A may=(
  [base]=""
  [codec]="base"
  [store]="base"
  [entries]="base codec store"
  [contacts]="base entries"
  [modem]="base"
  [simfiles]="base"
  [transfer]="base codec store modem simfiles"
  [ui/kit]="base"
  [ui]="base codec store entries contacts modem simfiles transfer ui/kit"
  [web]="base ui/kit"
  [sim]="base"
  [app]="base codec store entries contacts modem simfiles transfer ui ui/kit web sim"
)
bad=0
while IFS= read -r file; do
  rel="${file#"$src"/}"
  folder="${rel%/*}"
  [[ -v may[$folder] ]] || { echo "$rel: folder $folder is not in the layer table"; bad=1; continue; }
  while IFS= read -r inc; do
    target="${inc%/*}"
    [[ "$target" == "$folder" ]] && continue
    if [[ " ${may[$folder]} " != *" $target "* ]]; then
      echo "$rel includes $inc: $folder may not use $target"
      bad=1
    fi
  done < <(sed -nE 's/^#include "([a-z]+(\/kit)?\/[^"]+)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)
exit $bad
