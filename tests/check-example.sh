#!/usr/bin/env bash
# Runs the example application against perivane.jar alone: from another working folder, with a
# fresh HOME and no -Djava.library.path, on the class path and on the module path, with native
# access enabled as README says (no warning about it from Java 24 on). It must load
# the library from the jar's copy in the user's cache; or, when a library folder is given (an
# unpacked package), from that folder without making a cache.
set -euo pipefail
java=$1 jar=$2 example=$3 libdir=${4:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/home" "$scratch/work"
cd "$scratch/work"
options=()
[[ -z $libdir ]] || options=("-Djava.library.path=$libdir")
for path in "--enable-native-access=ALL-UNNAMED -cp $jar:$example" \
            "--enable-native-access=com.veltor.perivane -p $jar --add-modules com.veltor.perivane -cp $example"; do
  # shellcheck disable=SC2086  # $path is three or five words
  out=$(env -u XDG_CACHE_HOME HOME="$scratch/home" "$java" -Xcheck:jni "${options[@]}" $path \
        com.example.perivane.Example 2>&1) || { echo "$out"; exit 1; }
  echo "$out"
  for line in '^normalize: 5 chars become 4$' '^HFS path of /usr/bin: .+:usr:bin$' \
              '^volume .+: [0-9]+ of [0-9]+ MiB free$' '^owner of .+: root$'; do
    grep -q -E "$line" <<<"$out" || { echo "no line matches $line"; exit 1; }
  done
  if grep -q -E '(WARNING|FATAL ERROR) in native method|restricted method|native access' <<<"$out"; then exit 1; fi
done
cached=$(find "$scratch/home" -name libperivane.so)
if [[ -z $libdir ]]; then
  [[ $cached == "$scratch/home/.cache/perivane/"*/libperivane.so ]] || { echo "not loaded from the cache"; exit 1; }
else
  [[ -z $cached ]] || { echo "a cache was made although $libdir has the library"; exit 1; }
fi
echo "the example ran from ${libdir:-the jar alone}"
