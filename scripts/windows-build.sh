#!/usr/bin/env bash
# Cross-builds the driver DLL and its test programs for 32- and 64-bit
# Windows with MinGW-w64 (build-win32/ and build-win64/ in the source tree).
# Usage: scripts/windows-build.sh [extra cmake -D options...]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${ZEL_JOBS:-2}"
BUILD_TYPE="${ZEL_WINDOWS_BUILD_TYPE:-Release}"

need=()
for tool in cmake ninja i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
  command -v "$tool" >/dev/null 2>&1 || need+=("$tool")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=("googletest sources")
if [ ${#need[@]} -gt 0 ]; then
  echo "windows-build: missing ${need[*]}" >&2
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "windows-build: installing the cross compilers" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake ninja-build \
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest >/dev/null
  else
    exit 1
  fi
fi

build() {
  local name="$1" arch="$2"
  local dir="$ROOT/build-$name"
  echo "== windows-build: $name ($arch, $BUILD_TYPE)"
  cmake -S "$ROOT" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" \
    -DZEL_BUILD_TESTS=ON "${@:3}" >/dev/null
  ninja -C "$dir" -j"$JOBS" ZelvatScalesNativeDriver zelscales unit_tests host_tests windows_wire_tests \
    windows_unicode_tests
}

build win32 i686 "$@"
build win64 x86_64 "$@"

# The scale simulator runs natively, on the Linux side of the mapped COM
# ports and of the TCP connections.
echo "== windows-build: native simulator"
cmake -S "$ROOT" -B "$ROOT/build-windows-sim" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF >/dev/null
ninja -C "$ROOT/build-windows-sim" -j"$JOBS" zelscales
