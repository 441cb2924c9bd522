#!/usr/bin/env bash
# Builds each m6 unframer fuzz target on its own (libFuzzer with ASan and
# UBSan, clang 14) and runs it from its seeds for $1 seconds (default 60).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
seconds=${1:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/qm-unframe-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fno-omit-frame-pointer -I"$root" -I"$root/include" -I"$here")
sources=(connection/report_blocks.cpp connection/hid_stx_protocol.cpp
         connection/hid_report_protocol.cpp connection/dle_protocol.cpp platform/checksums.cpp)

status=0
for target in dle hid_stx hid_report; do
  exe="$work/${target}_unframe_fuzz"
  clang++-14 "${flags[@]}" "$here/${target}_unframe_fuzz.cpp" "${sources[@]/#/$root/}" -o "$exe"
  corpus="$work/corpus-$target"
  mkdir -p "$corpus"
  cp "$here/seeds/$target/"* "$corpus/"
  echo "=== $target: ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -malloc_limit_mb=64 -print_final_stats=1 \
      -artifact_prefix="$work/$target-" "$corpus" 2>"$work/$target.log"; then
    tail -50 "$work/$target.log"
    mkdir -p "$root/build-fuzz-artifacts"
    cp "$work/$target-"* "$root/build-fuzz-artifacts/" 2>/dev/null || true
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work/$target.log" | tail -2
  fi
done
exit $status
