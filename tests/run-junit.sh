#!/usr/bin/env bash
# Runs one JUnit 5 test class in a JVM that checks every JNI call (-Xcheck:jni), with HOME and
# the XDG folders in a fresh temporary folder, and fails on any warning the JNI checker prints.
set -uo pipefail
java=$1 libdir=$2 apijar=$3 testjar=$4 launcher=$5 class=$6 fixtures=$7

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$scratch/runtime"

log="$scratch/junit.log"
"$java" -Xcheck:jni -Djava.library.path="$libdir" \
  -Dperivane.library.dir="$libdir" -Dperivane.jar="$apijar" -Dperivane.testjar="$testjar" \
  -Dperivane.fixtures="$fixtures" \
  -jar "$launcher" --disable-banner --disable-ansi-colors --details=tree \
  --class-path "$apijar:$testjar" --select-class "$class" >"$log" 2>&1
status=$?
cat "$log"
if grep -q -E '(WARNING|FATAL ERROR) in native method' "$log"; then
  echo "the JNI checker reported a fault (see above)" >&2
  exit 1
fi
exit $status
