#!/usr/bin/env bash
# Builds the two libraries linked into libperivane.so and perivane-chooser, ICU's common library
# (libicuuc, with a stub in place of its data library) and libplist, from the source packages of
# Debian 12 at the pinned versions below, as static, position-independent archives with hidden
# symbols, into DIR/prefix (lib/, include/). Nothing happens when DIR/prefix already holds a build
# of these versions. The sources come through a sources list and lists folder of their own under
# DIR (the machine's apt configuration is left alone), from the Debian registry the machine's apt
# uses; each .dsc must carry a good signature of a Debian developer or maintainer (the keyrings of
# debian-keyring), and dpkg-source checks the archives against it. (Their licence texts are in
# licenses/ at the top of this tree.)
set -euo pipefail
dir=$(realpath -m "${1:?usage: third-party.sh DIR}")
icu=72.1-3+deb12u1 plist=2.2.0-6
stamp="icu $icu, libplist $plist, built by $(sha256sum <"${BASH_SOURCE[0]}" | cut -c1-16)"  # this script's own changes rebuild
prefix=$dir/prefix
mkdir -p "$dir"
exec 9>"$dir/.lock"  # builds sharing the folder wait for the one building it
flock 9
[[ -f $prefix/VERSIONS && $(<"$prefix/VERSIONS") == "$stamp" ]] && exit 0

echo "== third-party: $stamp, from Debian's source packages into $prefix"
mirror() {  # the registry the machine's apt reads the suite from
  local uri
  uri=$(apt-get indextargets --format '$(REPO_URI)' 'Origin: Debian' "Codename: $1" | head -n 1)
  [[ -n $uri ]] || { echo "the machine's apt has no Debian source for $1 (apt-get update?)" >&2; exit 1; }
  echo "$uri"
}
rm -rf "$dir/apt" "$dir/src" "$prefix"
mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache" "$dir/src" "$prefix/lib" "$prefix/include"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$dir/apt/sources.list" <<EOF
deb-src [signed-by=$keyring] $(mirror bookworm) bookworm main
deb-src [signed-by=$keyring] $(mirror bookworm-security) bookworm-security main
EOF
apt=(-o Dir::Etc::SourceList="$dir/apt/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$dir/apt/lists"
     -o Dir::Cache="$dir/apt/cache" -o Dir::State::status=/dev/null -o APT::Sandbox::User=root -q)
apt-get "${apt[@]}" update >/dev/null
cd "$dir/src"
apt-get "${apt[@]}" source --download-only "icu=$icu" "libplist=$plist" >/dev/null
for dsc in "icu_$icu.dsc" "libplist_$plist.dsc"; do
  gpgv --keyring /usr/share/keyrings/debian-keyring.gpg --keyring /usr/share/keyrings/debian-maintainers.gpg \
       "$dsc" 2>&1 | grep '^gpgv: Good signature from' || { echo "$dsc: no good signature" >&2; exit 1; }
  dpkg-source --require-valid-signature -x "$dsc" "${dsc%%_*}" >/dev/null
done

flags=(-O2 -g -fPIC -fvisibility=hidden -ffunction-sections -fdata-sections)
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

# ICU: built with GCC, as Debian builds it (its configure would take clang where it finds it), the
# common library only (normalization, case folding and UTF conversions, whose data ICU
# compiles into its code), against the stub data library, as the library asks ICU for nothing
# that needs its data package.
(
  cd icu/source
  CC=gcc CXX=g++ CFLAGS="${flags[*]}" CXXFLAGS="${flags[*]} -fvisibility-inlines-hidden -std=c++17" \
  CPPFLAGS="-DU_STATIC_IMPLEMENTATION -DUCONFIG_NO_LEGACY_CONVERSION=1" \
    ./configure --prefix="$prefix" --enable-static --disable-shared --disable-tools --disable-tests \
      --disable-samples --disable-extras --disable-icuio --disable-layoutex --disable-dyload \
      --with-data-packaging=static >../../icu-configure.log
  mkdir -p lib
  make -j"$jobs" -C stubdata >../../icu-make.log
  make -j"$jobs" -C common >>../../icu-make.log
)
cp icu/source/lib/libicuuc.a "$prefix/lib/"
cp icu/source/stubdata/libicudata.a "$prefix/lib/" 2>/dev/null || cp icu/source/lib/libicudata.a "$prefix/lib/"
mkdir "$prefix/include/unicode"
cp icu/source/common/unicode/*.h "$prefix/include/unicode/"

# libplist: the C library (with its node library, libcnary), compiled as its build does.
(
  cd libplist
  mkdir objects
  for c in src/{base64,bytearray,hashtable,ptrarray,time64,xplist,bplist,plist}.c libcnary/node{,_list}.c; do
    gcc "${flags[@]}" -std=gnu99 -D__LITTLE_ENDIAN__=1 -DHAVE_TM_TM_GMTOFF=1 -DHAVE_TM_TM_ZONE=1 \
        -DHAVE_FVISIBILITY=1 -Iinclude -Isrc -Ilibcnary/include -c "$c" -o "objects/$(basename "$c" .c).o"
  done
  ar rcs "$prefix/lib/libplist-2.0.a" objects/*.o
)
cp -r libplist/include/plist "$prefix/include/"
echo "$stamp" >"$prefix/VERSIONS"
