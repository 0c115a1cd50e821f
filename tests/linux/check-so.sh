#!/usr/bin/env bash
# The Linux library as shipped: it needs only the C library, libm, libpthread,
# libdl and the loader (its C++ runtime is inside, hidden), requires no
# GLIBCXX_, CXXABI_ or GCC_ symbol version and no GLIBC_ version above 2.17
# (it loads with glibc 2.17 and later), and exports exactly the four entry
# points. With --tool, the zelscales executable too: the same libraries and
# versions (it has no exports to check).
#   check-so.sh [LIBRARY] [--tool ZELSCALES]
set -euo pipefail
lib="" tool=""
[ $# -gt 0 ] && [ "$1" != --tool ] && { lib=$1; shift; }
[ $# = 2 ] && [ "$1" = --tool ] && { tool=$2; shift 2; }
[ $# = 0 ] && [ -n "$lib$tool" ] || { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
# The highest GLIBC_ version a shipped file may require.
glibc_max=2.17
fail=0

# check_imports FILE: needed libraries and symbol versions; prints the
# highest GLIBC_ version it needs.
check_imports() {
  local file=$1 needed versions glibc n symbol version
  needed=$(objdump -p "$file" | awk '$1 == "NEEDED" {print $2}' | sort | tr '\n' ' ')
  for n in $needed; do
    case "$n" in
      libc.so.6|libm.so.6|libpthread.so.0|libdl.so.2|ld-linux-x86-64.so.2) ;;
      *) echo "check-so: $file needs $n"; fail=1 ;;
    esac
  done
  versions=$(objdump -T "$file" | grep -o '(\(GLIBCXX\|CXXABI\|GCC\)_[0-9.]*)' | sort -u | tr '\n' ' ' || true)
  [ -z "$versions" ] || { echo "check-so: $file requires $versions"; fail=1; }
  # Each symbol bound to a GLIBC_ version above the floor, by name.
  while read -r symbol version; do
    if [ "$(printf '%s\n%s\n' "$glibc_max" "$version" | sort -V | tail -1)" != "$glibc_max" ]; then
      echo "check-so: $file requires $symbol from glibc $version (at most $glibc_max)"; fail=1
    fi
  done < <(objdump -T "$file" | sed -n 's/.*[ (]GLIBC_\([0-9.]*\)[) ].* \([^ ]*\)$/\2 \1/p')
  glibc=$(objdump -T "$file" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
  echo "check-so: $file needs [$needed], glibc ${glibc#GLIBC_} or later"
}

if [ -n "$lib" ]; then
  check_imports "$lib"
  exports=$(objdump -T "$lib" | awk '$2 ~ /g/ && $4 != "*UND*" {print $NF}' | sort | tr '\n' ' ')
  [ "$exports" = "DestroyObject GetClassNames GetClassObject SetPlatformCapabilities " ] ||
    { echo "check-so: $lib exports '$exports'"; fail=1; }
  echo "check-so: $lib exports [$exports]"
fi
if [ -n "$tool" ]; then check_imports "$tool"; fi
exit "$fail"
