#!/usr/bin/env bash
# Builds and runs the benchmarks (all of them, or the classes named, e.g. TextBench), in a
# scratch HOME. Ratios are native time / JDK time in the same JVM: below 1 means faster.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${PERIVANE_BUILD_DIR:-build}
java=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/bin/java
classes=("$@")
if ((${#classes[@]} == 0)); then
  mapfile -t classes < <(ls bench/src/com/veltor/perivane/bench/ | sed -n 's/\(.*Bench\)\.java$/\1/p')
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for c in "${classes[@]}"; do
  echo "### $c"
  HOME="$scratch" "$java" -Djava.library.path="$build" -Dperivane.fixtures="$PWD/fixtures" -cp "$build/perivane.jar:$build/perivane-bench.jar" \
    "com.veltor.perivane.bench.$c"
done
