#!/usr/bin/env bash
# Fails when a file of a lower layer includes a header of a higher one, or of
# a peer on its own level:
#   platform < connection < family_r42 = family_m6 = scanner < core_api
#            < product_api < demo = tool
#
#   check_layering.sh ROOT...    checks the layer folders below each root
#                                (the source tree, and the build tree for
#                                generated files)
#   check_layering.sh --self-test
#                                checks that a planted include is found
set -uo pipefail

declare -A level=(
  [platform]=0 [connection]=1
  [family_r42]=2 [family_m6]=2 [scanner]=2
  [core_api]=3 [product_api]=4 [demo]=5 [tool]=5
)

# Prints one line per include that breaks the order; exits 1 when any does.
check_roots() {
  local bad=0 root folder file number text target
  for root in "$@"; do
    for folder in "${!level[@]}"; do
      [[ -d $root/$folder ]] || continue
      while IFS=: read -r file number text; do
        [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"\<]([A-Za-z0-9_]+)/ ]] || continue
        target=${BASH_REMATCH[1]}
        [[ -n ${level[$target]+x} && $target != "$folder" ]] || continue
        if (( level[$target] >= level[$folder] )); then
          echo "${file#"$root"/}:$number: $folder includes a header of $target"
          bad=1
        fi
      done < <(grep -rnH --exclude-dir=CMakeFiles --include='*.h' --include='*.cpp' \
                 --include='*.c' --include='*.inc' -E '^[[:space:]]*#[[:space:]]*include' \
                 "$root/$folder")
    done
  done
  return $bad
}

self_test() {
  local tree out status=0
  tree=$(mktemp -d) || return 1
  mkdir -p "$tree"/{platform,connection,family_r42,family_m6,core_api}
  printf '#include "platform/a.h"\n#include <vector>\n' > "$tree/connection/fine.cpp"
  printf '#include "connection/b.h"\n#include "platform/a.h"\n' > "$tree/core_api/fine.h"
  if ! out=$(check_roots "$tree"); then
    echo "self-test: includes of lower layers were refused: $out"
    status=1
  fi
  printf '// x\n  #  include <core_api/c.h>\n' > "$tree/connection/up.h"
  printf '#include "family_r42/d.h"\n' > "$tree/family_m6/peer.inc"
  printf '#include "connection/b.h"\n' > "$tree/platform/up.c"
  out=$(check_roots "$tree")
  local want
  for want in "connection/up.h:2:" "family_m6/peer.inc:1:" "platform/up.c:1:"; do
    if [[ $out != *"$want"* ]]; then
      echo "self-test: the planted include at $want was not found"
      status=1
    fi
  done
  rm -rf "$tree"
  (( status == 0 )) && echo "self-test: planted includes found, lower ones allowed"
  return $status
}

if [[ ${1-} == --self-test ]]; then
  self_test
  exit
fi
if (( $# == 0 )); then
  echo "usage: $0 ROOT... | --self-test" >&2
  exit 2
fi
check_roots "$@" && echo "layering: no include reaches up or across"
