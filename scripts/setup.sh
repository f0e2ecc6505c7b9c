#!/usr/bin/env bash
# Installs what Quorvane's builds and tests need on Debian 12, idempotently, and says what it does.
# Usage: scripts/setup.sh build   compilers and libraries for the three builds
#        scripts/setup.sh test    everything the tests need as well: Wine (64 and 32-bit), Xvfb,
#                                 dnsmasq, clang's fuzzer runtime, and qemu-i386 registered for
#                                 32-bit programs
set -euo pipefail

want=${1:-test}
build_packages=(cmake make g++ libgtest-dev libbenchmark-dev mingw-w64 binutils-mingw-w64
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 zip)
test_packages=(wine wine64 wine32:i386 xvfb x11-utils dnsmasq-base qemu-user-static fonts-wine
  clang libclang-rt-14-dev clang-format clang-tidy iproute2 procps imagemagick python3 util-linux)

say() { echo "setup: $*"; }

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
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
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" \
    >/dev/null
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
