#!/usr/bin/env bash
# Line and branch coverage of the library's C++ (VLPerivaneJNI, platform, chooser) from every
# test together: the C++ unit tests (with the fuzz-corpus replays) and the JVM tests, whose
# JVMs, child JVMs and chooser programs each add their counts when they exit. Builds into
# build-coverage/ (or $PERIVANE_BUILD_DIR) without optimisation, prints gcovr's summary and
# writes the HTML report to build-coverage/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${PERIVANE_BUILD_DIR:-build-coverage}
# Some tests run the library as nobody, whose counts go to the build folder too. When nobody
# cannot reach the checkout (a clone in a folder only its owner may enter), the build goes to a
# folder under /tmp that it can reach, and build-coverage links to it.
if [[ -z ${PERIVANE_BUILD_DIR:-} ]] && ! setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x "$PWD"; then
  if [[ ! -L $build || ! -d $build ]]; then
    rm -rf "$build"
    ln -s "$(mktemp -d /tmp/perivane-coverage.XXXXXX)" "$build"
  fi
  build=$(readlink "$build")
  chmod 755 "$build"
fi
PERIVANE_BUILD_DIR="$build" scripts/build.sh -DCMAKE_BUILD_TYPE=Debug -DPERIVANE_COVERAGE=ON -DPERIVANE_BENCH=OFF \
  -DPERIVANE_THIRD_PARTY_DIR="$PWD/build/third-party"
# Every counts file is there from the start, empty and writable by all: some tests run the
# library in a child JVM of another user (setpriv), which could not make one in this folder.
find "$build" -name '*.gcda' -delete
find "$build" -name '*.gcno' -exec sh -c 'for f; do : >"${f%.gcno}.gcda"; chmod 666 "${f%.gcno}.gcda"; done' sh {} +
status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" || status=$?
find "$build" -name '*.gcda' -empty -delete  # objects no test ran
mkdir -p "$build/coverage"
# Branches the compiler adds for exception unwinding, and those it can prove never taken, are
# left out: they are not decisions of the code.
gcovr --root . --object-directory "$build" --filter 'VLPerivaneJNI/' --filter 'platform/' --filter 'chooser/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --html-details "$build/coverage/index.html" --txt "$build/coverage/summary.txt" --print-summary
echo "HTML report: $build/coverage/index.html"
exit "$status"
