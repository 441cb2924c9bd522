#!/usr/bin/env bash
# Runs every test of the three presets; exits non-zero when any fails.
set -uo pipefail
cd "$(dirname "$0")"

status=0
for preset in release asan-ubsan tsan; do
  runner=()
  if [[ $preset == tsan ]]; then
    # ThreadSanitizer of clang 14 cannot map its shadow memory when the
    # kernel randomises more than 28 bits of the address space.
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)
    if (( bits > 28 )); then runner=(setarch "$(uname -m)" -R); fi
  fi
  echo "=== ctest --preset $preset"
  if ! "${runner[@]}" ctest --preset "$preset" --output-on-failure; then
    status=1
  fi
done

for fuzz in tests/fuzz/run.sh tests/connection/fuzz/run.sh; do
  if [[ -x $fuzz ]]; then
    echo "=== $fuzz"
    if ! "$fuzz" 20; then status=1; fi
  fi
done
exit $status
