#!/usr/bin/env bash
# Builds the reply-unframing fuzzers apart from the CMake tree and runs each
# for $1 seconds (default 60). Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
out=${QM_FUZZ_DIR:-build/fuzz}
mkdir -p "$out"
CXX=${CXX_FUZZ:-clang++-14}
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -I. -Itests)
sources=(connection/stx_etx_protocol.cpp connection/ccid_protocol.cpp platform/checksums.cpp)

# Seeds: two capacity bytes (2048), then a reply frame from the main road.
seed() {  # name framing hex...
  local dir=$out/corpus_$2; mkdir -p "$dir"
  printf "$(printf '\\x%s' "${@:3}")" > "$dir/$1"
}
stx_version=(02 00 00 00 08 00 00 00 56 35 2E 31 32 44 03)
stx_status=(02 00 00 00 03 6A 82 00 E9 03)
stx_empty=(02 00 00 00 00 02 03)
ccid_head=(80 0F 00 00 00 00 00 00 00 00)
seed version stx 08 00 "${stx_version[@]}"
seed status stx 08 00 "${stx_status[@]}"
seed empty stx 08 00 "${stx_empty[@]}"
seed long stx 00 08 02 00 00 00 0A 01 02 03 04 05 06 07 08 09 0A 01 03
seed version ccid 08 00 "${ccid_head[@]}" "${stx_version[@]}"
seed status ccid 08 00 80 0A 00 00 00 00 00 00 00 00 "${stx_status[@]}"
seed empty ccid 08 00 80 07 00 00 00 00 00 00 00 00 "${stx_empty[@]}"

status=0
for target in stx_etx:stx ccid:ccid; do
  name=${target%%:*}_unframe_fuzz
  corpus=$out/corpus_${target##*:}
  "$CXX" "${flags[@]}" "tests/fuzz/$name.cpp" "${sources[@]}" -o "$out/$name"
  echo "--- $name for ${seconds}s"
  if ! "$out/$name" "$corpus" -max_total_time="$seconds" -malloc_limit_mb=64 \
       -artifact_prefix="$out/$name-" -print_final_stats=1 2>"$out/$name.log"; then
    tail -n 40 "$out/$name.log"
    status=1
  else
    grep -E "^stat::number_of_executed_units|Done" "$out/$name.log" | tail -n 2 || true
  fi
done
exit $status
