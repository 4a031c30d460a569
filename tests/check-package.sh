#!/usr/bin/env bash
# Makes the Debian package of this build and checks it: its name, that it holds exactly the
# jars, the native files of the jar (the same bytes) with their debug files, the copyright file
# and the NOTICE (the jar carries the licences too, and Maven's pom), and that
# dpkg-shlibdeps gave it the stated libraries' packages (soname=package words); then unpacks it
# and runs the example against its files.
set -euo pipefail
build=$1 java=$2 example=$3 version=$4; shift 4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
deb=$scratch/out/perivane_${version}_amd64.deb
[[ -f $deb ]] || { echo "no $deb:"; ls "$scratch/out"; exit 1; }

jni=usr/lib/x86_64-linux-gnu/jni
natives=$build/jar-native/META-INF/native/linux-x86_64
expected=$( (awk -v d="./$jni/" '{print d $2}' "$natives/SHA256SUMS"
             (cd "$build/debug" && find . -type f) | sed 's,^\./,./usr/lib/debug/,'
             printf './usr/share/java/%s\n' perivane.jar perivane-javadoc.jar perivane-sources.jar
             printf './usr/share/doc/perivane/%s\n' copyright NOTICE) | sort)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [[ $files != "$expected" ]]; then
  echo "the package's files (>) differ from those expected (<):"; diff <(echo "$expected") <(echo "$files") || true; exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in $(printf '%s\n' "${@#*=}" | sort -u); do
  sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends" | grep -q -x -F "$package" || { echo "Depends lacks $package"; exit 1; }
done

dpkg-deb -x "$deb" "$scratch/root"
for f in LICENSES/{LICENSE,NOTICE,ICU.txt,LGPL-2.1.txt} maven/com.veltor/perivane/pom.{xml,properties}; do
  unzip -l "$scratch/root/usr/share/java/perivane.jar" "META-INF/$f" >/dev/null || { echo "the jar lacks META-INF/$f"; exit 1; }
done
(cd "$scratch/root/$jni" && sha256sum --check --quiet "$natives/SHA256SUMS")
if ldd "$scratch/root/$jni/libperivane.so" | grep 'not found'; then exit 1; fi
"$(dirname "$0")/check-example.sh" "$java" "$scratch/root/usr/share/java/perivane.jar" "$example" "$scratch/root/$jni"
echo "$(basename "$deb") holds $(wc -l <<<"$files") files, all as expected"
