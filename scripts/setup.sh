#!/usr/bin/env bash
# Installs what Quorvane's builds and tests need on Debian 12, idempotently, and says what it does.
# Usage: scripts/setup.sh build   compilers and libraries for the three builds
#        scripts/setup.sh test    everything the tests need as well: Wine (64 and 32-bit), Xvfb,
#                                 dnsmasq, clang's fuzzer runtime, and qemu-i386 registered for
#                                 32-bit programs
# A package mirror in the middle of a sync is survived: the index update is retried and then
# used as far as it came, and an install that does not resolve is tried again with the release's
# own suite preferred (security updates of one architecture can run ahead of the other's).
# QV_APT_OPTIONS adds options to every apt-get call (the set-up's own test points it at a
# configuration of its own).
set -euo pipefail

want=${1:-test}
build_packages=(cmake make g++ libgtest-dev libbenchmark-dev mingw-w64 binutils-mingw-w64
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 zip pkg-config libmicrohttpd-dev)
test_packages=(wine wine64 wine32:i386 xvfb x11-utils dnsmasq-base qemu-user-static fonts-wine
  clang libclang-rt-14-dev clang-format clang-tidy iproute2 procps imagemagick python3 util-linux
  prometheus)
update_tries=${QV_APT_UPDATE_TRIES:-3}
update_pause=${QV_APT_UPDATE_PAUSE:-10}
read -r -a apt_options <<<"${QV_APT_OPTIONS:-}"

say() { echo "setup: $*"; }

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" "$@"; }

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# apt-get update, retried; an index that still fails leaves its older copy (or none) in use,
# which is enough when the packages wanted come from the indices that did arrive.
update_indices() {
  local try
  for ((try = 1; try <= update_tries; try++)); do
    if apt_get update -q >/tmp/qv-apt-update.$$ 2>&1; then
      rm -f /tmp/qv-apt-update.$$
      return
    fi
    if ((try < update_tries)); then
      say "package index update failed (try $try of $update_tries), again in ${update_pause}s"
      sleep "$update_pause"
    fi
  done
  say "package index update still failing; going on with the indices that arrived:"
  grep -E '^(E|W):' /tmp/qv-apt-update.$$ | head -n 5 | sed 's/^/setup:   /' || true
  rm -f /tmp/qv-apt-update.$$
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
  local log=/tmp/qv-apt-install.$$
  if apt_get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    rm -f "$log"
    return
  fi
  local codename
  codename=$(release_codename)
  if [ -n "$codename" ]; then
    say "install did not resolve; trying again with the $codename suite preferred"
    if apt_get install -y -q --no-install-recommends -t "$codename" "${missing[@]}" >"$log" 2>&1; then
      rm -f "$log"
      return
    fi
  fi
  local gone
  gone=$(unavailable "${missing[@]}" | tr '\n' ' ')
  if [ -n "$gone" ]; then
    say "cannot install: no package source offers ${gone% }"
  else
    say "cannot install ${missing[*]}: $(grep -E '^E:' "$log" | head -n 1)"
  fi
  rm -f "$log"
  exit 1
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

install_missing "${build_packages[@]}"
if [ "$want" = test ]; then
  install_missing "${test_packages[@]}"
  register_qemu_i386
fi
say "ready ($want)"
