#!/usr/bin/env bash
# Installs the Debian packages the named stages need, only those that are missing.
#   scripts/deps.sh [stage...]   stages: native asan tsan fuzz windows package bench, or all (default native)
#     native/asan/tsan  compiler, CMake, Ninja, GoogleTest, libmodbus (a real Modbus slave for tests),
#                       Python (reads the tool's JSON lines in its tests), CLI11 and nlohmann-json (the tool)
#     fuzz              native + clang and its libFuzzer runtime
#     windows           native + MinGW-w64 and Wine (Windows DLLs and their tests)
#     package           native + debootstrap and curl (the check on Debian 11), MinGW-w64 and Wine
#     bench             native (Google Benchmark is in it)
set -euo pipefail

native=(g++ cmake ninja-build ccache googletest libgtest-dev libbenchmark-dev pkg-config libmodbus-dev python3
        libcli11-dev nlohmann-json3-dev locales)
mingw=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64)
wine=(wine wine64 wine32:i386 xvfb xauth)

[ $# -gt 0 ] || set -- native
want=("${native[@]}")
for stage in "$@"; do
  case "$stage" in
    native|asan|tsan) ;;
    fuzz) want+=(clang libclang-rt-14-dev) ;;
    windows) want+=("${mingw[@]}" "${wine[@]}") ;;
    package) want+=(debootstrap curl "${mingw[@]}" "${wine[@]}") ;;
    bench) ;;
    all) want+=(clang libclang-rt-14-dev "${mingw[@]}" "${wine[@]}" debootstrap curl) ;;
    *) echo "deps.sh: unknown stage $stage" >&2; exit 2 ;;
  esac
done
# Each package once.
mapfile -t want < <(printf '%s\n' "${want[@]}" | awk '!seen[$0]++')

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

# A locale with a decimal comma, for the tests of the component's own locale (every stage runs them).
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

