#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 30), starting from the seed
# corpus in fuzz/corpus/<harness>. New inputs go to build/fuzz/corpus/<harness>,
# crashes to build/fuzz/crash-<harness>-*; any crash fails the script.
# Before fuzzing, each harness replays fuzz/replay/<harness>/*: inputs that
# once crashed it or broke one of its checks, kept so they stay fixed.
#   fuzz/run.sh            about 30 s per harness (what the test command runs)
#   fuzz/run.sh 600        a longer hunt: 10 minutes per harness
#   fuzz/run.sh 600 fuzz_strings    one harness only
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
B=build/fuzz
CC=clang CXX=clang++ cmake -S fuzz -B "$B" -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$B.cmake.log" 2>&1 ||
  { cat "$B.cmake.log"; exit 1; }
cmake --build "$B" -j2 > "$B.build.log" 2>&1 || { tail -40 "$B.build.log"; exit 1; }
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=($(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//'))
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for h in "${harnesses[@]}"; do
  mkdir -p "$B/corpus/$h"
  replays=(fuzz/replay/"$h"/*)
  if [ -e "${replays[0]}" ] && ! "$B/$h" "${replays[@]}" > "$B/$h.replay.log" 2>&1; then
    echo "$h: replay FAILED (log: $B/$h.replay.log)"; grep -m5 -E 'ERROR|runtime error|fuzz check' "$B/$h.replay.log"
    status=1
    continue
  fi
  if "$B/$h" -max_total_time="$SECONDS_EACH" -max_len=4096 -rss_limit_mb=2048 -timeout=20 \
       -print_final_stats=1 -artifact_prefix="$B/crash-$h-" "$B/corpus/$h" "fuzz/corpus/$h" \
       > "$B/$h.log" 2>&1; then
    echo "$h: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$B/$h.log" | grep -o '[0-9]*$') runs, no crash"
  else
    echo "$h: FAILED (log: $B/$h.log)"; grep -m5 -E 'ERROR|runtime error|==ERROR' "$B/$h.log" || tail -20 "$B/$h.log"
    status=1
  fi
done
exit $status
