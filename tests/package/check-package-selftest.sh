#!/usr/bin/env bash
# check-package.sh must refuse a spoilt archive: each case below spoils a
# copy of the good one (or its debug files) in one way, and the check has to
# fail with the expected complaint. The libraries are not loaded here.
#   check-package-selftest.sh ZIP DEBUG-DIR UNSTRIPPED-SO
set -euo pipefail
zip=$(realpath "$1") debug=$(realpath "$2") ROOT_SO=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
NAME=ZelvatScalesNativeDriver
work=$(mktemp -d /tmp/zel-package-selftest.XXXXXX)
trap 'rm -rf "$work"' EXIT

# NAME|WHAT IS DONE TO THE UNPACKED TREE ($t) OR THE DEBUG FILES ($d)|EXPECTED COMPLAINT
cases=(
  "good||all checks passed"
  "unstripped .so|cp '$ROOT_SO' \$t/${NAME}_x64.so|${NAME}_x64.so still holds debug sections"
  "DLL without its link|x86_64-w64-mingw32-objcopy --remove-section .gnu_debuglink \$t/${NAME}_x64.dll|${NAME}_x64.dll has no debug link"
  "debug file of another build|printf x >>\$d/${NAME}_x86.dll.debug|does not match the checksum"
  "debug file missing|rm \$d/${NAME}_x64.so.debug|${NAME}_x64.so.debug missing"
  "manifest without the x86 DLL|sed -i '/_x86.dll/d' \$t/MANIFEST.XML|does not name ${NAME}_x86.dll"
  "library missing|rm \$t/${NAME}_x64.dll|${NAME}_x64.dll is named in MANIFEST.XML but not in the archive"
  "a stray file|touch \$t/readme.txt|the archive holds other files"
  "tool missing|rm \$t/zelscales_x86.exe|zelscales_x86.exe missing from the archive"
  "readme missing|rm \$t/README.txt|README.txt missing from the archive"
  "readme with Unix line ends|sed -i 's/\\r\$//' \$t/README.txt|README.txt has lines without CR LF"
  "a tool of the wrong system|cp \$t/zelscales_x86.exe \$t/zelscales_x64.exe|zelscales_x64.exe is not pei-x86-64"
  "symbols left in the .so|cp '$ROOT_SO' \$t/${NAME}_x64.so; strip --strip-unneeded \$t/${NAME}_x64.so; objcopy --add-symbol extra=.text:0,global,function \$t/${NAME}_x64.so|still lists symbols"
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r name spoil expected <<<"$c"
  t="$work/tree" d="$work/debug"
  rm -rf "$t" "$d" "$work/spoilt.zip"
  mkdir -p "$t"
  (cd "$t" && cmake -E tar xf "$zip")
  cp -r "$debug" "$d"
  if [ -n "$spoil" ]; then eval "$spoil"; fi
  (cd "$t" && cmake -E tar cf "$work/spoilt.zip" --format=zip $(ls))
  out=$(ZEL_PACKAGE_NO_LOAD=1 "$here/check-package.sh" "$work/spoilt.zip" "$d" 2>&1) &&
    rc=0 || rc=$?
  if [ "$name" = good ]; then want_rc=0; else want_rc=1; fi
  if [ "$rc" != "$want_rc" ] || ! grep -qF -- "$expected" <<<"$out"; then
    echo "check-package-selftest: '$name': exit $rc, wanted $want_rc with '$expected':" >&2
    echo "$out" | sed 's/^/  /' >&2
    failed=1
  else
    echo "check-package-selftest: ok: $name"
  fi
done
exit "$failed"
