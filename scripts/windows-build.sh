#!/usr/bin/env bash
# Cross-builds the driver DLL and its test programs for 32- and 64-bit
# Windows with MinGW-w64 (build-win32/ and build-win64/ in the source tree),
# and the Linux tool that plays the scales (build-release/).
# Usage: scripts/windows-build.sh
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

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

# The DLLs, the tool and the test programs, in the configuration the package
# ships (scripts/release-build.sh).
"$ROOT/scripts/release-build.sh" win32 ZelvatScalesNativeDriver zelscales unit_tests host_tests windows_wire_tests \
  windows_unicode_tests
"$ROOT/scripts/release-build.sh" win64 ZelvatScalesNativeDriver zelscales unit_tests host_tests windows_wire_tests \
  windows_unicode_tests

# The scale simulator runs natively, on the Linux side of the mapped COM
# ports and of the TCP connections: the Linux tool the package ships.
"$ROOT/scripts/release-build.sh" linux zelscales
