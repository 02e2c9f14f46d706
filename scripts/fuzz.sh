#!/usr/bin/env bash
# Builds every fuzz target with clang, the core instrumented for coverage and checked by
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs the targets one after
# another for SECONDS each, starting from the kept corpus. Fails on any crash, leak,
# timeout or running out of memory and prints where the input that did it was written.
#   scripts/fuzz.sh [SECONDS]   (default 60)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }
"$here/scripts/install-deps.sh"

build="${QB_FUZZ_BUILD_DIR:-$here/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQB_SANITIZE=ON -DQB_FUZZ=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF >/dev/null
targets=()
for src in "$here"/fuzz/*_fuzz.cpp; do
  name="$(basename "$src" .cpp)"
  targets+=("${name%_fuzz}")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzz}"

# New finds go to a scratch folder beside the build, never into the kept corpus.
finds="$build/finds"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="suppressions='$here/scripts/lsan-suppressions.txt':print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$finds/$t" "$build/crashes/$t"
  log="$build/crashes/$t.log"
  dirs=("$finds/$t" "$here/fuzz/corpus/$t")
  [ -d "$here/fuzz/regressions/$t" ] && dirs+=("$here/fuzz/regressions/$t")
  echo "== $t: ${seconds}s"
  if "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
       -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/crashes/$t/" \
       "${dirs[@]}" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
  else
    failed+=("$t")
    tail -n 40 "$log"
    reproducer="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)"
    echo "!! $t failed; reproducer: ${reproducer:-none written} (log: $log)"
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing clean: ${targets[*]}"
