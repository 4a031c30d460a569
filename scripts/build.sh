#!/usr/bin/env bash
# Configures and builds everything into build/ (or $PERIVANE_BUILD_DIR). Extra arguments go to
# cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
build=${PERIVANE_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
