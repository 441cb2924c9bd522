#!/usr/bin/env bash
# Runs every test of the three presets, then builds the fuzz preset and runs
# each fuzz target briefly; exits non-zero when anything fails and ends with
# one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")"

status=0
passed=0
failed=0
log=$(mktemp)
work=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$work"' EXIT

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

# Each fuzz target runs for 20 s from its checked-in seeds (copied: the
# fuzzer adds what it finds to its corpus). A finding is kept under
# build/fuzz/findings and shown by its path and a hex dump.
fuzz_seconds=20
findings=build/fuzz/findings
echo "=== fuzz preset"
if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$log" 2>&1; then
  cat "$log"
  failed=$((failed + 1))
  status=1
else
  for src in tests/fuzz/*_fuzz.cpp; do
    target=$(basename "$src" .cpp)
    seed_set=${target%_unframe_fuzz}
    seed_set=${seed_set%_fuzz}
    corpus=$work/corpus-$seed_set
    mkdir -p "$corpus"
    echo "=== $target: ${fuzz_seconds}s from tests/fuzz/seeds/$seed_set"
    if ! cp tests/fuzz/seeds/"$seed_set"/* "$corpus"/; then
      echo "no seeds for $target"
      failed=$((failed + 1))
      status=1
      continue
    fi
    if UBSAN_OPTIONS=print_stacktrace=1 "build/fuzz/tests/fuzz/$target" "$corpus" \
        -max_total_time="$fuzz_seconds" -timeout=10 -malloc_limit_mb=64 \
        -print_final_stats=1 -artifact_prefix="$work/$target-" >"$log" 2>&1; then
      grep -E '^stat::number_of_executed_units' "$log"
      passed=$((passed + 1))
      continue
    fi
    tail -n 60 "$log"
    failed=$((failed + 1))
    status=1
    mkdir -p "$findings"
    for input in "$work/$target-"*; do
      [[ -e $input ]] || continue
      mv "$input" "$findings/"
      echo "finding: $findings/$(basename "$input")"
      od -A x -t x1z -v "$findings/$(basename "$input")" | head -n 64
    done
  done
fi

echo "tests: $passed passed, $failed failed"
exit $status
