#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the C++ unit tests and the JVM tests,
# the unit tests again under valgrind's memcheck, then all of them again with the library built
# under AddressSanitizer and UndefinedBehaviorSanitizer (the JVMs preload the sanitizer runtimes),
# then the fuzz seeds through the fuzz targets, which clang builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${PERIVANE_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"

echo "== the unit tests under memcheck"
scripts/memcheck.sh

echo "== the same tests with the sanitizers"
PERIVANE_BUILD_DIR=build-sanitize scripts/build.sh -DPERIVANE_SANITIZE=ON -DPERIVANE_BENCH=OFF \
  -DPERIVANE_THIRD_PARTY_DIR="$(realpath "${PERIVANE_BUILD_DIR:-build}")/third-party"
(
  # The JVM handles SIGSEGV itself, and its own allocations would drown a leak report.
  export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
  export ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)"
)

echo "== the fuzz seeds through the fuzz targets"
scripts/fuzz.sh 0

echo "== the jar in fresh Debian installations"
scripts/portability.sh
