#!/usr/bin/env bash
# Valgrind's memcheck over the C++ unit tests (with the fuzz-corpus replays): any invalid
# access, use of uninitialised memory, mismatched free, or definitely or indirectly lost block
# fails. No suppressions are needed. Under valgrind, whose allocator takes the place of the
# frame test's own operator new, that test cannot make allocations fail; it runs regardless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
  "${PERIVANE_BUILD_DIR:-build}/tests/unit_tests" --gtest_brief=1
