#!/usr/bin/env bash
# A shipped native file may need exactly the shared libraries stated for it (soname=package words,
# the lists in CMakeLists.txt), glibc's symbols up to version 2.34 (Debian 12, Ubuntu 22.04,
# Fedora 35, RHEL 9), none of libstdc++'s or libgcc's (linked in), and may export nothing but the
# JNI natives (a program: the linker's own markers): what a Java user's machine must have, and all
# that it sees.
set -euo pipefail
file=$1; shift
needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort)
stated=$(printf '%s\n' "${@%%=*}" | sort)
if [[ $needed != "$stated" ]]; then
  echo "needed (>) differs from the stated list (<):"; diff <(echo "$stated") <(echo "$needed") || true; exit 1
fi
versions=$(objdump -T "$file" | grep -o -E '\b(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+' | sort -u -V)
newest=$(grep '^GLIBC_' <<<"$versions" | tail -n 1 || true)
if grep -v '^GLIBC_' <<<"$versions" || [[ $(printf '%s\n' GLIBC_2.34 "$newest" | sort -V | tail -n 1) != GLIBC_2.34 ]]; then
  echo "symbol versions past the floor:" $versions; exit 1
fi
exported=$(nm -D --defined-only "$file" | awk '{print $3}' | grep -v -E '^(Java_.*|_IO_stdin_used|__bss_start|_edata|_end)$' || true)
[[ -z $exported ]] || { echo "exports besides the natives:" $exported; exit 1; }
echo "$(basename "$file") needs exactly" $needed "and glibc symbols up to $newest"
