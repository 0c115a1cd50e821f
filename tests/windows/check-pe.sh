#!/usr/bin/env bash
# Checks the Windows DLLs as the platform and a shop's PC will see them:
#  - the right machine type for each build;
#  - exactly the four entry points, under their plain names (no "_" prefix,
#    no "@N" suffix), and nothing else exported;
#  - only system DLLs imported: no compiler runtime (libstdc++, libgcc,
#    libwinpthread) that the PC would not have.
# Usage: check-pe.sh DLL:ARCH [DLL:ARCH...]   ARCH is i686 or x86_64
set -euo pipefail

EXPECTED_EXPORTS="DestroyObject GetClassNames GetClassObject SetPlatformCapabilities"
# Windows system DLLs the driver may use (lower case).
ALLOWED_IMPORTS="kernel32.dll user32.dll ws2_32.dll advapi32.dll msvcrt.dll gdi32.dll
shell32.dll ole32.dll oleaut32.dll ntdll.dll bcrypt.dll wsock32.dll"

fail=0
complain() { echo "check-pe: $*" >&2; fail=1; }

check_one() {
  local dll="$1" arch="$2" objdump format
  case "$arch" in
    i686) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
    x86_64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
    *) complain "unknown architecture '$arch'"; return ;;
  esac
  if [ ! -f "$dll" ]; then complain "$dll: no such file"; return; fi
  local dump
  if ! dump="$("$objdump" -p "$dll")"; then complain "$dll: objdump failed"; return; fi

  grep -q "file format $format" <<<"$dump" || complain "$dll: not $format"
  awk '/^Characteristics/ {on=1; next} on && /^[[:space:]]*$/ {exit} on && $1 == "DLL" {found=1}
       END {exit !found}' <<<"$dump" || complain "$dll: not a DLL image"

  # Export names: the lines after "[Ordinal/Name Pointer] Table" look like
  # "\t[   0] GetClassNames" (newer binutils add "+base[   1]").
  local exports
  exports="$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next}
                  on && /^[[:space:]]*$/ {on=0}
                  on {print $NF}' <<<"$dump" | sort | tr '\n' ' ' | sed 's/ $//')"
  if [ "$exports" != "$EXPECTED_EXPORTS" ]; then
    complain "$dll: exports are '$exports', expected '$EXPECTED_EXPORTS'"
  fi

  local imports name
  imports="$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump" | sort -u)"
  [ -n "$imports" ] || complain "$dll: no import table found"
  for name in $imports; do
    case " $(echo $ALLOWED_IMPORTS) " in
      *" $name "*) ;;
      *) complain "$dll: imports $name, which is not a Windows system DLL" ;;
    esac
  done
  echo "check-pe: $dll ($arch): exports [$exports]; imports [$(echo $imports)]"
}

[ $# -gt 0 ] || { echo "usage: $0 DLL:ARCH..." >&2; exit 2; }
for target in "$@"; do
  check_one "${target%:*}" "${target##*:}"
done
if [ "$fail" = 0 ]; then echo "check-pe: all checks passed"; fi
exit "$fail"
