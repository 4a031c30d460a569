#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tour in a scratch HOME that is removed after.
# Arguments go to the tour: --chooser shows the folder dialog when there is a display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${PERIVANE_BUILD_DIR:-build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home"
HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_DATA_HOME="$scratch/home/.local/share" \
  "${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/bin/java" -Djava.library.path="$build" -Dperivane.fixtures="$PWD/fixtures" \
  -cp "$build/perivane.jar:$build/perivane-tour.jar" com.veltor.perivane.tour.Tour "$@"
