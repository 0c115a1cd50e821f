#!/usr/bin/env bash
# Shows that check-pe.sh rejects the faults it is there to catch: builds small
# DLLs with a decorated export, an extra export, a missing export and a
# dynamic C++ runtime, and expects each to fail; a correct one must pass.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

cat >"$WORK/good.cpp" <<'SRC'
#include <string>
#define EXPORT extern "C" __declspec(dllexport)
EXPORT const wchar_t* GetClassNames() { return L"X"; }
EXPORT long GetClassObject(const wchar_t*, void**) { return 0; }
EXPORT long DestroyObject(void**) { return 0; }
EXPORT int SetPlatformCapabilities(int) { return 1; }
std::string Keep(const char* s) { return s; }
#ifdef EXTRA
EXPORT int Extra() { return 0; }
#endif
SRC
sed 's/EXPORT int SetPlatformCapabilities(int) { return 1; }//' "$WORK/good.cpp" >"$WORK/missing.cpp"
# stdcall on i686 decorates the export as "SetPlatformCapabilities@4".
sed 's/EXPORT int SetPlatformCapabilities(int)/EXPORT int __stdcall SetPlatformCapabilities(int)/' \
  "$WORK/good.cpp" >"$WORK/stdcall.cpp"

cc=i686-w64-mingw32-g++-posix
static="-static -static-libgcc -static-libstdc++"
$cc -shared -o "$WORK/good.dll" "$WORK/good.cpp" $static
$cc -shared -o "$WORK/extra.dll" -DEXTRA "$WORK/good.cpp" $static
$cc -shared -o "$WORK/missing.dll" "$WORK/missing.cpp" $static
$cc -shared -o "$WORK/stdcall.dll" "$WORK/stdcall.cpp" $static
$cc -shared -o "$WORK/dynamic.dll" "$WORK/good.cpp"

failures=0
expect() {
  local want="$1" dll="$2" arch="$3"
  if "$HERE/check-pe.sh" "$dll:$arch" >"$WORK/out" 2>&1; then got=pass; else got=fail; fi
  if [ "$got" != "$want" ]; then
    echo "check-pe-selftest: $(basename "$dll") as $arch: expected $want, got $got" >&2
    cat "$WORK/out" >&2
    failures=$((failures + 1))
  elif [ "$want" = fail ]; then
    echo "check-pe-selftest: $(basename "$dll") as $arch rejected: $(grep -m1 '^check-pe: ' "$WORK/out" | cut -c11-)"
  fi
}
expect pass "$WORK/good.dll" i686
expect fail "$WORK/good.dll" x86_64
expect fail "$WORK/extra.dll" i686
expect fail "$WORK/missing.dll" i686
expect fail "$WORK/stdcall.dll" i686
expect fail "$WORK/dynamic.dll" i686
expect fail "$WORK/absent.dll" i686
if [ "$failures" = 0 ]; then
  echo "check-pe-selftest: 7 passed, 0 failed"
else
  echo "check-pe-selftest: $((7 - failures)) passed, $failures failed"
  exit 1
fi
