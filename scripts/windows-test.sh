#!/usr/bin/env bash
# Runs the Windows builds (from scripts/windows-build.sh) under Wine: the PE
# checks of both DLLs, then unit_tests.exe and host_tests.exe of the 32-bit
# and the 64-bit build, each suite in one Wine process, in a throw-away
# 64-bit Wine prefix. Fails on any failure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SUITE_TIMEOUT="${ZEL_WINE_SUITE_TIMEOUT:-300}"
TARGETS=(win32:i686 win64:x86_64)

need=()
for tool in wine wineboot wineserver i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null 2>&1 || need+=("$tool")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "windows-test: missing ${need[*]}" >&2
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "windows-test: installing Wine" >&2
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine wine32:i386 wine64 \
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 >/dev/null
  else
    exit 1
  fi
fi

for t in "${TARGETS[@]}"; do
  dir="$ROOT/build-${t%%:*}"
  for f in component/ZelvatScalesNativeDriver.dll tests/unit_tests.exe tests/host_tests.exe; do
    [ -f "$dir/$f" ] || { echo "windows-test: $dir/$f missing; run scripts/windows-build.sh" >&2; exit 1; }
  done
done

echo "== windows-test: PE checks"
"$ROOT/tests/windows/check-pe-selftest.sh"
"$ROOT/tests/windows/check-pe.sh" \
  "$ROOT/build-win32/component/ZelvatScalesNativeDriver.dll:i686" \
  "$ROOT/build-win64/component/ZelvatScalesNativeDriver.dll:x86_64"

export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
WINEPREFIX="$(mktemp -d /tmp/zel-wine.XXXXXX)"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "== windows-test: Wine prefix $WINEPREFIX"
start=$SECONDS
if ! timeout 300 wineboot -i >"$WINEPREFIX.boot.log" 2>&1; then
  cat "$WINEPREFIX.boot.log" >&2
  rm -f "$WINEPREFIX.boot.log"
  echo "windows-test: wineboot failed" >&2
  exit 1
fi
rm -f "$WINEPREFIX.boot.log"
echo "windows-test: prefix ready in $((SECONDS - start)) s"

failed=0
total_passed=0
total_failed=0
for t in "${TARGETS[@]}"; do
  name="${t%%:*}"
  dir="$ROOT/build-$name"
  dest="$WINEPREFIX/drive_c/zel/$name"
  mkdir -p "$dest"
  cp "$dir/component/ZelvatScalesNativeDriver.dll" "$dir/tests/unit_tests.exe" "$dir/tests/host_tests.exe" "$dest/"
  for suite in unit_tests host_tests; do
    log="$WINEPREFIX/$name-$suite.log"
    echo "== windows-test: $name $suite"
    rc=0
    (cd "$dest" && ZEL_LIBRARY="C:\\zel\\$name\\ZelvatScalesNativeDriver.dll" \
       timeout "$SUITE_TIMEOUT" wine "C:\\zel\\$name\\$suite.exe" --gtest_color=no) \
       >"$log" 2>&1 </dev/null || rc=$?
    sed -i 's/\r$//' "$log"  # Wine's console writes CR LF
    # The gtest summary, and the details of whatever failed.
    grep -E '^\[==========\]|^\[  PASSED  \]|^\[  SKIPPED \]|^\[  FAILED  \]|^ *[0-9]+ FAILED TEST' "$log" || true
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
    nfailed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS*$/\1/p' "$log" | tail -1)
    total_passed=$((total_passed + ${passed:-0}))
    total_failed=$((total_failed + ${nfailed:-0}))
    if [ "$rc" != 0 ] || ! grep -q '^\[  PASSED  \]' "$log"; then
      failed=1
      if [ "$rc" = 124 ]; then echo "windows-test: $name $suite timed out after $SUITE_TIMEOUT s" >&2; fi
      echo "windows-test: $name $suite failed (exit $rc); its failures:" >&2
      # Each failed test's output, from its RUN line to its FAILED line.
      awk '/^\[ RUN      \]/ {buf=""} {buf=buf $0 "\n"}
           /^\[  FAILED  \] [^ ]+ \(/ {printf "%s", buf; buf=""}' "$log" | head -200 >&2
      if ! grep -q '^\[==========\]' "$log"; then tail -40 "$log" >&2; total_failed=$((total_failed + 1)); fi
    fi
  done
done

echo "windows-test: $((SECONDS - start)) s under Wine"
echo "windows: $total_passed passed, $total_failed failed"
exit "$failed"
