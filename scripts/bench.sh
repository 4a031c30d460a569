#!/usr/bin/env bash
# Builds and runs the benchmarks in a scratch HOME. With no argument: every speed target in one
# table (Targets); with class names (TextBench, FileBench, PathBench, ProcessBench, DockBench,
# AliasBench, LoadBench), those benchmarks with all their lines. Ratios are native time / reference time
# (the JDK's equivalent, or a floor) in the same JVM: below 1 means faster.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${PERIVANE_BUILD_DIR:-build}
java=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/bin/java
classes=("$@")
if ((${#classes[@]} == 0)); then
  classes=(Targets)
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The path styles are measured again with 1,000 more mounts, made in a mount namespace of the
# benchmarks' own where one may be made (root); elsewhere those rows are skipped with a note.
namespace=() mountns=false
if unshare -m --propagation private true 2>/dev/null; then
  namespace=(unshare -m --propagation private) mountns=true
fi
for c in "${classes[@]}"; do
  echo "### $c"
  HOME="$scratch" "${namespace[@]}" "$java" -Djava.library.path="$build" -Dperivane.fixtures="$PWD/fixtures" \
    -Dperivane.bench.mountns=$mountns -cp "$build/perivane.jar:$build/perivane-bench.jar" "com.veltor.perivane.bench.$c"
done
