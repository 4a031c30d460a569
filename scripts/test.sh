#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the C++ unit tests and the JVM tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${PERIVANE_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
