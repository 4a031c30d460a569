#!/usr/bin/env bash
# Runs perivane.jar, as built in build/ (or $PERIVANE_BUILD_DIR), in fresh Debian installations:
# Debian 12 with its JRE 17, Debian 13 with its JRE 21 and its JRE 25, and Debian testing with
# its default JRE. Each is made by debootstrap (minbase) from the Debian registry the machine's
# apt uses, with nothing added but the headless JRE and GLib's and GTK 3's runtime packages, and
# kept under $XDG_CACHE_HOME/perivane/portability (by default ~/.cache) for a week (--refresh
# makes them anew). In each, from a folder of its own with a fresh HOME and no
# java.library.path, it runs the example application against perivane.jar alone
# (tests/check-example.sh), and the portability check program, which calls every native and
# asserts the answers; on a JRE that warns about native access, run as README says, with no such
# warning. A registry or debootstrap that cannot be reached is reported and skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${PERIVANE_BUILD_DIR:-build}")
cache=${XDG_CACHE_HOME:-$HOME/.cache}/perivane/portability
refresh=$([[ ${1:-} == --refresh ]] && echo yes || true)
for f in perivane.jar perivane-example.jar tests/perivane-portability.jar; do
  [[ -f $build/$f ]] || { echo "no $build/$f: build first (scripts/build.sh)"; exit 1; }
done
skip() { echo "SKIPPED: $*"; exit 0; }
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Origin: Debian' 'Codename: bookworm' | head -n 1)
[[ -n $mirror ]] || skip "the machine's apt names no Debian registry"
curl -sf -m 30 -o /dev/null "${mirror}dists/bookworm/InRelease" || skip "the Debian registry $mirror cannot be reached"

# A registry may serve a snapshot whose Release files have expired, as the machine's apt allows.
apt_options="-o Acquire::Check-Valid-Until=false"

mkdir -p "$cache"
exec 9>"$cache/.lock"  # one run at a time uses the installations
flock 9
# The system a program in an installation sees: its own root as a mount point (so that the
# mount table has a root volume), /proc and /dev; unmount() undoes it for every installation.
enter() { mount --bind "$1" "$1" && mount -t proc proc "$1/proc" && mount --bind /dev "$1/dev"; }
unmount() { findmnt -r -n -o TARGET | { grep -F "$cache/" || true; } | sort -r | xargs -r -n 1 umount -l; }
trap unmount EXIT
unmount
# Runs a command in the installation as root, with the groups root and users.
in_root() {
  local root=$1; shift
  chroot --groups=0,100 "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# The installation of SUITE with PACKAGES, made or reused: its folder on standard output.
installation() {
  local suite=$1 root=$cache/$1; shift
  if [[ -f $root.ready && -z $refresh && -n $(find "$root.ready" -mtime -7) ]]; then echo "$root"; return; fi
  rm -rf --one-file-system "$root" "$root.ready"
  echo "== making a Debian $suite installation in $root" >&2
  if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.log" 2>&1; then
    tail -n 5 "$root.log" >&2; echo "SKIPPED: debootstrap of $suite failed (log: $root.log)" >&2; return 1
  fi
  enter "$root"
  in_root "$root" DEBIAN_FRONTEND=noninteractive sh -c \
    "apt-get $apt_options update -q && apt-get $apt_options install -y -q --no-install-recommends $*" >>"$root.log" 2>&1 \
    || { unmount; tail -n 5 "$root.log" >&2; echo "installing $* into $suite failed" >&2; return 2; }
  unmount
  in_root "$root" apt-get clean
  touch "$root.ready"
  echo "$root"
}

# Runs the example and the check program with JAVA (a path in ROOT), as README tells users to run
# them, with native access enabled: they must print no warning about it.
check() {
  local root=$1 java=$2 what=$3 scratch status=0
  scratch=$(mktemp -d "$root/tmp/perivane-check.XXXXXX")
  mkdir "$scratch/home" "$scratch/work" "$scratch/jars" "$scratch/files"
  cp "$build/perivane.jar" "$build/perivane-example.jar" "$build/tests/perivane-portability.jar" \
     fixtures/dock/com.apple.dock.plist tests/check-example.sh "$scratch/jars/"
  local s=${scratch#"$root"}
  local j=$s/jars
  enter "$root"
  step() {
    local out
    out=$(in_root "$root" HOME="$s/home" sh -c "cd $s/work && $1" 2>&1) || { sed 's/^/    /' <<<"$out"; return 1; }
    sed 's/^/    /' <<<"$out"
    ! grep -i -E 'restricted method|native access' <<<"$out" >/dev/null || { echo "    (a native-access warning)"; return 1; }
  }
  step "$java -version 2>&1 | head -n 1" &&
  step "bash $j/check-example.sh $java $j/perivane.jar $j/perivane-example.jar" &&
  step "$java --enable-native-access=ALL-UNNAMED -cp $j/perivane.jar:$j/perivane-portability.jar \
        com.veltor.perivane.check.PortabilityCheck $s/files $j/com.apple.dock.plist" || status=1
  unmount
  rm -rf --one-file-system "$scratch"
  ((status == 0)) && echo "ok: $what" || { echo "FAILED: $what"; return 1; }
}

passed=0 failures=0 skipped=0  # runs: one per installation and JRE
matrix=(
  "bookworm|openjdk-17-jre-headless libglib2.0-0 libgtk-3-0|17"
  "trixie|openjdk-21-jre-headless openjdk-25-jre-headless libglib2.0-0t64 libgtk-3-0t64|21 25"
  "testing|default-jre-headless libglib2.0-0t64 libgtk-3-0t64|default"
)
for row in "${matrix[@]}"; do
  IFS='|' read -r suite packages jres <<<"$row"
  read -ra runs <<<"$jres"
  root=$(installation "$suite" "$packages") || {
    (($? == 1)) && skipped=$((skipped + ${#runs[@]})) || failures=$((failures + ${#runs[@]}))
    continue
  }
  for jre in "${runs[@]}"; do
    java=/usr/lib/jvm/java-$jre-openjdk-amd64/bin/java
    [[ $jre != default ]] || java=/usr/bin/java
    if check "$root" "$java" "Debian $suite, JRE $jre"; then passed=$((passed + 1)); else failures=$((failures + 1)); fi
  done
done
echo "portability: $passed passed, $failures failed, $skipped skipped"
((failures == 0))
