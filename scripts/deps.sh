#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   scripts/deps.sh native    compiler, CMake, Ninja, GoogleTest, libmodbus (a real Modbus slave for tests),
#                             Python (reads the tool's JSON lines in its tests)
#   scripts/deps.sh all       native + clang (fuzzers) + MinGW-w64 and Wine (Windows DLLs)
#                             + debootstrap and curl (the package's check on Debian 11)
set -euo pipefail

want=(g++ cmake ninja-build googletest libgtest-dev libbenchmark-dev pkg-config libmodbus-dev python3)
if [ "${1:-native}" = all ]; then
  want+=(locales clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
         wine wine64 wine32:i386 xvfb xauth debootstrap curl)
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi

if [ ${#missing[@]} -gt 0 ]; then
  [ -z "$sudo" ] || command -v sudo >/dev/null || { echo "need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  echo "installing: ${missing[*]}" >&2
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A locale with a decimal comma, for the tests of the component's own locale.
if [ "${1:-native}" = all ] && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

