#!/usr/bin/env bash
# Runs every test of the three presets, then each fuzzer briefly; exits
# non-zero when anything fails and ends with one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")"

status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

for preset in release asan-ubsan tsan; do
  runner=()
  if [[ $preset == tsan ]]; then
    # ThreadSanitizer of clang 14 cannot map its shadow memory when the
    # kernel randomises more than 28 bits of the address space.
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)
    if (( bits > 28 )); then runner=(setarch "$(uname -m)" -R); fi
  fi
  echo "=== ctest --preset $preset"
  if ! "${runner[@]}" ctest --preset "$preset" --output-on-failure | tee "$log"; then
    status=1
  fi
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    status=1
  fi
done

for fuzz in tests/fuzz/run.sh tests/connection/fuzz/run.sh; do
  if [[ -x $fuzz ]]; then
    echo "=== $fuzz"
    if "$fuzz" 20; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      status=1
    fi
  fi
done

echo "tests: $passed passed, $failed failed"
exit $status
