#!/usr/bin/env bash
# The library may need exactly the shared libraries stated for it (given as soname=package
# words, the list in CMakeLists.txt), and never a GUI library: what a Java user's machine must
# have.
set -euo pipefail
lib=$1; shift
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort)
stated=$(printf '%s\n' "${@%%=*}" | sort)
gui=$(grep -E '^lib(gtk|gdk|X11|xcb|wayland|cairo|pango|atk)' <<<"$needed" || true)
if [[ -n $gui ]]; then echo "needs GUI libraries:" $gui; exit 1; fi
if [[ $needed != "$stated" ]]; then
  echo "needed (>) differs from the stated list (<):"; diff <(echo "$stated") <(echo "$needed") || true; exit 1
fi
echo "needs exactly the stated libraries:" $needed
