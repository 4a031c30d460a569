#!/usr/bin/env bash
# The library links no GUI library, directly or through another, so that it loads on a headless
# server; the folder dialog is the chooser program's, which must sit beside the library.
set -euo pipefail
lib=$1
gui=$(ldd "$lib" | grep -E -i 'lib(gtk|gdk|atk|cairo|pango|harfbuzz|epoxy|wayland|X11|xcb|Xi|Xext)[-.]' || true)
if [[ -n "$gui" ]]; then
  echo "GUI libraries linked into $lib:"; echo "$gui"; exit 1
fi
[[ -x "$(dirname "$lib")/perivane-chooser" ]] || { echo "no chooser program beside $lib"; exit 1; }
echo "no GUI library linked; the chooser program is beside the library"
