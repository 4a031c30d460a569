#!/usr/bin/env bash
# The soak: one JVM under -Xcheck:jni calls every native but the dialog ROUNDS times (default
# 200000; the running-application check every EVERY-th round, default 100), in a
# scratch HOME, at low priority. Fails when an answer changes, resident memory grows by 5 MiB
# or more after the warm-up, descriptors grow, or the JNI checker reports anything.
#   bash scripts/soak.sh [ROUNDS [EVERY]]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${PERIVANE_BUILD_DIR:-build}
java=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/bin/java
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
# A heap of fixed size, touched at the start, so that its growth is not taken for the library's.
status=0
HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" nice -n 10 "$java" -Xcheck:jni -Xms256m -Xmx256m \
  -XX:+AlwaysPreTouch -XX:+UseSerialGC -Djava.library.path="$build" -Dperivane.fixtures="$PWD/fixtures" \
  -cp "$build/perivane.jar:$build/tests/perivane-tests.jar:$build/perivane-stress.jar" \
  com.veltor.perivane.Soak "$@" 2>&1 | tee "$scratch/soak.log" || status=$?
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
if grep -q -E '(WARNING|FATAL ERROR) in native method|WARNING: JNI' "$scratch/soak.log"; then
  echo "the JNI checker reported a fault (see above)" >&2
  exit 1
fi
exit "$status"
