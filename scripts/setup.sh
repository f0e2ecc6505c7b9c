#!/usr/bin/env bash
# Installs what Quorvane's builds and tests need on Debian 12, idempotently, and says what it does.
# Usage: scripts/setup.sh build   compilers and libraries for the three builds
#        scripts/setup.sh test    everything the tests need as well: Wine (64 and 32-bit), Xvfb,
#                                 dnsmasq, clang's fuzzer runtime, and qemu-i386 registered for
#                                 32-bit programs
# A package mirror in the middle of a sync is survived: the index update is retried and then
# used as far as it came, and an install that does not resolve is tried again with the release's
# own suite preferred (security updates of one architecture can run ahead of the other's). Only a
# package that no source offers, or that still does not resolve, ends it, with one line saying so.
# Environment:
#   QV_APT_OPTIONS       options added to every apt-get and apt-cache call (the set-up's own test
#                        points APT at a configuration of its own with "-o Dir::Etc::...")
#   QV_EXTRA_PACKAGES    further packages to install with the others (space-separated)
#   QV_APT_UPDATE_TRIES  how often the index update is tried (3), QV_APT_UPDATE_PAUSE the pause
#                        between tries in seconds (10)
set -euo pipefail

want=${1:-test}
build_packages=(cmake make g++ libgtest-dev libbenchmark-dev mingw-w64 binutils-mingw-w64
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 zip dpkg-dev file
  libncurses-dev pkg-config libmicrohttpd-dev nlohmann-json3-dev)
test_packages=(wine wine64 wine32:i386 xvfb x11-utils dnsmasq-base qemu-user-static fonts-wine
  clang libclang-rt-14-dev clang-format clang-tidy iproute2 procps imagemagick python3 util-linux
  lintian groff man-db bash-completion zsh fish prometheus)
update_tries=${QV_APT_UPDATE_TRIES:-3}
update_pause=${QV_APT_UPDATE_PAUSE:-10}
read -r -a apt_options <<<"${QV_APT_OPTIONS:-}"
read -r -a extra_packages <<<"${QV_EXTRA_PACKAGES:-}"
# Another apt-get at work (unattended upgrades, a second set-up) is waited for, not a failure.
apt_options=(-o DPkg::Lock::Timeout=600 "${apt_options[@]}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

say() { echo "setup: $*"; }
fail() {
  echo "setup: $*" >&2
  exit 1
}

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" "$@"; }

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# apt-get update, retried; an index that still fails leaves its older copy (or none) in use,
# which is enough when the packages wanted come from the indices that did arrive.
update_indices() {
  local try log=$work/update.log
  for ((try = 1; try <= update_tries; try++)); do
    if apt_get update -q >"$log" 2>&1; then
      return
    fi
    if ((try < update_tries)); then
      say "package index update failed (try $try of $update_tries), again in ${update_pause}s"
      sleep "$update_pause"
    fi
  done
  say "package index update failed (try $update_tries of $update_tries); going on with the" \
    "indices that arrived:"
  grep -E '^(E|W):' "$log" | head -n 5 | sed 's/^/setup:   /' || true
}

release_codename() {
  (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

# The packages of a list that no index offers at all: no retry can bring them.
unavailable() {
  local package
  for package in "$@"; do
    apt-cache "${apt_options[@]}" show "$package" >/dev/null 2>&1 || echo "$package"
  done
}

install_missing() {
  local missing=()
  for package in "$@"; do installed "$package" || missing+=("$package"); done
  if [ ${#missing[@]} -eq 0 ]; then
    return
  fi
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "enabling the i386 architecture (for wine32)"
    dpkg --add-architecture i386
  fi
  say "installing ${missing[*]}"
  update_indices
  local log=$work/install.log
  if apt_get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    return
  fi
  local codename
  codename=$(release_codename)
  if [ -n "$codename" ]; then
    say "install did not resolve ($(grep -E -m 1 '^E:' "$log")); trying again with the $codename" \
      "suite preferred"
    if apt_get install -y -q --no-install-recommends -t "$codename" "${missing[@]}" >"$log" 2>&1; then
      return
    fi
  fi
  local gone
  gone=$(unavailable "${missing[@]}" | tr '\n' ' ')
  if [ -n "$gone" ]; then
    fail "cannot install: no package source offers ${gone% }"
  fi
  fail "cannot install ${missing[*]}: $(grep -E '^E:' "$log" | head -n 1)"
}

# This machine kind runs no 32-bit programs natively: 32-bit Wine runs through qemu-i386.
register_qemu_i386() {
  local binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    say "mounting binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    say "registering qemu-i386-static for 32-bit programs"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
  fi
}

case $want in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) fail "unknown set '$want' (build or test)" ;;
esac
# One index update and one install for everything missing, extra packages included.
install_missing "${wanted[@]}" "${extra_packages[@]}"
[ "$want" = build ] || register_qemu_i386
say "ready ($want)"
