#!/usr/bin/env bash
# Fails when a file of a lower layer includes a header of a higher one, or of
# a peer on its own level:
#   platform < connection < family_r42 = family_m6 = scanner < core_api
#            < product_api < demo = tool
# and when the demo includes any header of ours but its own and the
# reader library's public qm_reader.h (the driver stand-in in
# demo/ss_card_driver may also include qm_export.h): the program reaches
# the library through its public API only.
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
  check_demo "$@" || bad=1
  return $bad
}

check_demo() {
  local bad=0 root file number text target
  for root in "$@"; do
    [[ -d $root/demo ]] || continue
    while IFS=: read -r file number text; do
      [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\">]+) ]] || continue
      target=${BASH_REMATCH[2]}
      if [[ ${BASH_REMATCH[1]} == '<' ]]; then
        [[ $target == */* && -n ${level[${target%%/*}]+x} ]] || continue
      else
        [[ $target == demo/* || $target == qm_reader.h ]] && continue
        [[ $file == */demo/ss_card_driver/* && ( $target == qm_export.h || $target == ss_card_driver.h ) ]] &&
          continue
      fi
      echo "${file#"$root"/}:$number: the demo includes $target, not only qm_reader.h"
      bad=1
    done < <(grep -rnH --exclude-dir=CMakeFiles --include='*.h' --include='*.cpp' \
               --include='*.c' -E '^[[:space:]]*#[[:space:]]*include' "$root/demo")
  done
  return $bad
}

self_test() {
  local tree out status=0
  tree=$(mktemp -d) || return 1
  mkdir -p "$tree"/{platform,connection,family_r42,family_m6,core_api,demo/ss_card_driver}
  printf '#include "platform/a.h"\n#include <vector>\n' > "$tree/connection/fine.cpp"
  printf '#include "connection/b.h"\n#include "platform/a.h"\n' > "$tree/core_api/fine.h"
  printf '#include "qm_reader.h"\n#include "demo/x.h"\n#include <gtk/gtk.h>\n' > "$tree/demo/fine.cpp"
  printf '#include "qm_export.h"\n' > "$tree/demo/ss_card_driver/fine.c"
  if ! out=$(check_roots "$tree"); then
    echo "self-test: includes of lower layers were refused: $out"
    status=1
  fi
  printf '// x\n  #  include <core_api/c.h>\n' > "$tree/connection/up.h"
  printf '#include "family_r42/d.h"\n' > "$tree/family_m6/peer.inc"
  printf '#include "connection/b.h"\n' > "$tree/platform/up.c"
  printf '#include "qm_reader.h"\n#include "kx_core.h"\n#include <platform/a.h>\n' > "$tree/demo/api.cpp"
  out=$(check_roots "$tree")
  local want
  for want in "connection/up.h:2:" "family_m6/peer.inc:1:" "platform/up.c:1:" "demo/api.cpp:2:" \
      "demo/api.cpp:3:"; do
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
