#!/usr/bin/env bash
# The Linux library as shipped: it needs only the C library, libm and the
# loader (its C++ runtime is inside, hidden), requires no GLIBCXX_, CXXABI_ or
# GCC_ symbol version, and exports exactly the four entry points.
#   check-so.sh LIBRARY
set -euo pipefail
lib=$1
fail=0
needed=$(objdump -p "$lib" | awk '$1 == "NEEDED" {print $2}' | sort | tr '\n' ' ')
for n in $needed; do
  case "$n" in
    libc.so.6|libm.so.6|ld-linux-x86-64.so.2) ;;
    *) echo "check-so: $lib needs $n"; fail=1 ;;
  esac
done
versions=$(objdump -T "$lib" | grep -o '(\(GLIBCXX\|CXXABI\|GCC\)_[0-9.]*)' | sort -u | tr '\n' ' ' || true)
[ -z "$versions" ] || { echo "check-so: $lib requires $versions"; fail=1; }
exports=$(objdump -T "$lib" | awk '$2 ~ /g/ && $4 != "*UND*" {print $NF}' | sort | tr '\n' ' ')
[ "$exports" = "DestroyObject GetClassNames GetClassObject SetPlatformCapabilities " ] ||
  { echo "check-so: $lib exports '$exports'"; fail=1; }
glibc=$(objdump -T "$lib" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
echo "check-so: $lib needs [$needed], exports [$exports], lowest glibc ${glibc#GLIBC_}"
exit "$fail"
