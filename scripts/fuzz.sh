#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each of them, or the one
# named, for SECONDS (default 60) over its seeds in fuzz/corpus/TARGET, on a 1 MiB stack (what a
# JVM thread has). Inputs that find new code go to build-fuzz/work/TARGET, where the next run
# starts from them too (remove it to start afresh); an input that breaks the target's contract,
# or takes over 60 seconds, is saved there as crash-..., leak-... or timeout-... (slow-unit-...
# is one that took over 10 seconds: no finding). Prints one line per target: seconds,
# executions, edges covered, corpus size, findings; fails when a target found something.
# SECONDS 0 replays each seed once through the clang build, trying nothing new (scripts/test.sh).
#   bash scripts/fuzz.sh [domain_loader|bookmark|process_area|path_styles|user_dirs] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
all=(domain_loader bookmark process_area path_styles user_dirs)
targets=("${all[@]}")
if [[ $# -gt 0 && ! $1 =~ ^[0-9]+$ ]]; then
  [[ " ${all[*]} " == *" $1 "* ]] || { echo "no fuzz target $1 (${all[*]})" >&2; exit 2; }
  targets=("$1")
  shift
fi
seconds=${1:-60}
build=build-fuzz
mkdir -p "$build"
exec 9>"$build/.build-lock"  # two runs at once build one after the other
flock 9
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERIVANE_FUZZ=ON -DPERIVANE_TESTS=OFF \
  -DPERIVANE_BENCH=OFF -DPERIVANE_THIRD_PARTY_DIR="$PWD/build/third-party" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzzer}"
exec 9>&-

failed=0
for t in "${targets[@]}"; do
  work=$build/work/$t
  mkdir -p "$work"
  log=$build/work/$t.log
  status=0
  if ((seconds == 0)); then
    (ulimit -s 1024; "$build/fuzz/${t}_fuzzer" -runs=0 "fuzz/corpus/$t") >"$log" 2>&1 || status=$?
    echo "$t: replayed $(find "fuzz/corpus/$t" -type f | wc -l) seeds (log: $log)"
  else
    echo "### $t: $seconds s (log: $log)"
    (ulimit -s 1024; "$build/fuzz/${t}_fuzzer" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
      -artifact_prefix="$work/" "$work" "fuzz/corpus/$t") >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
    findings=$(find "$work" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    echo "$t: $seconds s, ${runs:-?} executions, ${edges:-?} edges, corpus ${corpus:-?} (inputs/bytes), findings in $work: $findings"
  fi
  if ((status != 0)); then
    failed=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY)|Test unit written to' "$log" || tail -20 "$log"
  fi
done
exit $failed
