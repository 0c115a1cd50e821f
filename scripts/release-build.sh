#!/usr/bin/env bash
# The Release builds that are shipped and tested under Wine, one configuration
# each, so that whichever of scripts/windows-build.sh and scripts/package.sh
# runs second finds them built:
#   scripts/release-build.sh linux|win32|win64 TARGET...
# build-release/ (Linux; no tests), build-win32/ and build-win64/ (MinGW-w64;
# tests configured): Release, compiled with -g for the symbols the package
# keeps aside. Each directory is built by one script at a time.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${ZEL_JOBS:-2}"
kind=${1:?linux, win32 or win64}
shift
case "$kind" in
  linux) dir=build-release; config=(-DZEL_BUILD_TESTS=OFF) ;;
  win32) dir=build-win32; config=(-DZEL_BUILD_TESTS=ON -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake") ;;
  win64) dir=build-win64; config=(-DZEL_BUILD_TESTS=ON -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake") ;;
  *) echo "release-build: linux, win32 or win64, not $kind" >&2; exit 2 ;;
esac
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
fi
echo "== release-build: $kind in $dir: $*"
cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-g -DCMAKE_CXX_FLAGS=-g \
  "${launcher[@]}" "${config[@]}" >/dev/null
cmake --build "$ROOT/$dir" -j"$JOBS" --target "$@"
