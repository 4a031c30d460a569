#!/usr/bin/env bash
# Runs the folder chooser's tests (java.ChooserTest) once under each window manager that
# ChooserTest knows (openbox, xfwm4, metacity, mutter as an X11 window manager; or those named),
# each on an Xvfb screen of 1366x768 of its own, and prints which passed. The screenshots of each
# run stay in the build folder: chooser-WM-alone.png (the dialog over its Swing host while a
# second call waits), chooser-WM-host-activated.png (after the host was activated) and
# chooser-nowm-first.png. Look at them.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${PERIVANE_BUILD_DIR:-build}
cmake --build "$build" -j2 --target perivane perivane-chooser perivane_tests >/dev/null || exit 1
failed=0
for wm in "${@:-openbox xfwm4 metacity mutter}"; do
  for one in $wm; do
    if PERIVANE_TEST_WM=$one ctest --test-dir "$build" -R '^java\.ChooserTest$' --output-on-failure \
        >"$build/chooser-$one.log" 2>&1; then
      echo "$one: passed ($build/chooser-$one-alone.png, $build/chooser-$one-host-activated.png)"
    else
      echo "$one: FAILED (see $build/chooser-$one.log)"
      failed=1
    fi
  done
done
exit $failed
