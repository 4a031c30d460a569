#!/usr/bin/env bash
# The library must export the JNI natives of Perivane and the loader's version native, and
# nothing else: no JNI_OnLoad, no platform-layer or third-party symbols.
set -euo pipefail
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
others=$(grep -v -E '^(Java_com_veltor_perivane_Perivane_[A-Za-z]+|Java_com_veltor_perivane_NativeLibrary_version)$' <<<"$symbols" || true)
if [[ -n "$others" ]]; then
  echo "exported besides the natives:"; echo "$others"; exit 1
fi
grep -q -x Java_com_veltor_perivane_NativeLibrary_version <<<"$symbols" || { echo "the loader's version native is missing"; exit 1; }
echo "$(wc -l <<<"$symbols") natives exported, nothing else"
