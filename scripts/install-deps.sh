#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tour and the tests need (with the argument
# "fuzz", those the fuzz targets need besides). Idempotent: when every package is already
# installed it touches nothing (and needs no network).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  openjdk-17-jdk junit5
  googletest libgtest-dev
  libmount-dev libblkid-dev libplist-utils uuid-dev libglib2.0-dev
  debian-keyring  # the signatures of the source packages of ICU and libplist (scripts/third-party.sh)
  debootstrap curl  # the installations of scripts/portability.sh, and its look at the registry
  util-linux procps attr
  libgtk-3-dev                                # the chooser program's folder dialog
  xvfb xdotool x11-xserver-utils imagemagick libgtk2.0-0  # the dialog tests: X server, keys, keymap,
                                                          # screenshot, AWT's GTK 2
  x11-utils openbox xfwm4 metacity mutter dbus-daemon  # window properties and geometry; the window
                                                      # managers the dialog is tried under (xfwm4 in
                                                      # a D-Bus session of its own)
  libx11-dev  # the chooser program reads the host's window
  dpkg-dev file  # the Debian package: dpkg-shlibdeps, and file, which CPack runs
  valgrind gcovr  # memcheck over the unit tests; the coverage report
)
if [[ ${1:-} == fuzz ]]; then
  packages+=(clang libclang-rt-14-dev)  # libFuzzer and clang's sanitizer runtimes
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
