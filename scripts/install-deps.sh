#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tour and the tests need. Idempotent: when every
# package is already installed it touches nothing (and needs no network).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  openjdk-17-jdk junit5
  googletest libgtest-dev
  libicu-dev libmount-dev libblkid-dev libplist-dev libplist-utils libglib2.0-dev
  util-linux procps attr
)

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
