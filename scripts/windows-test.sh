#!/usr/bin/env bash
# Runs the Windows builds (from scripts/windows-build.sh) under Wine: the PE
# checks of both DLLs, then the test programs (unit, host, wire against
# simulated scales, and the library in a folder beyond the ANSI code page)
# and the command-line tool of the 32-bit and the 64-bit build, each suite
# in one Wine process, in a throw-away 64-bit Wine prefix. Fails on any
# failure.
#
# Where the machine cannot execute 32-bit x86 programs (Wine's 32-bit loader
# fails with "Exec format error"), every Wine step goes through the 64-bit
# loader and only the 32-bit DLL's PE checks run; its Wine suites are skipped
# with a notice. ZEL_WINE_WIN32=0 forces that mode.
set -euo pipefail

# Wine needs a display for windows: the wire test catches the driver's
# window-message broadcast in a hidden window. Run under a virtual one.
if [ -z "${DISPLAY:-}" ] && [ -z "${ZEL_UNDER_XVFB:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  if timeout 30 xvfb-run -a true >/dev/null 2>&1; then
    ZEL_UNDER_XVFB=1 exec xvfb-run -a "$0" "$@"
  fi
  echo "windows-test: no virtual display could be started; the broadcast is not checked" >&2
fi
if [ -n "${DISPLAY:-}" ]; then export ZEL_EXPECT_WINDOW_MESSAGES=1; fi

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SUITE_TIMEOUT="${ZEL_WINE_SUITE_TIMEOUT:-300}"
TARGETS=(win32:i686 win64:x86_64)

need=()
for tool in wine wineserver i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null 2>&1 || need+=("$tool")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "windows-test: missing ${need[*]}" >&2
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "windows-test: installing Wine" >&2
    dpkg --add-architecture i386
    apt-get update -qq || echo "windows-test: apt-get update failed for some lists; installing from those apt has" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine wine32:i386 wine64 \
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 >/dev/null
  else
    exit 1
  fi
fi

# The loader for every Wine step.
source "$ROOT/scripts/wine-loader.sh"
if [ -z "$WINE" ]; then
  echo "windows-test: no Wine loader runs on this machine (\`wine --version\` fails, no 64-bit loader found)" >&2
  exit 1
fi
WIN32_NOTICE="$WIN32_WHY: the win32 DLL is built and its PE tables checked, its Wine suites are skipped"
if [ "$WIN32_RUNS" = 0 ]; then
  echo "!! windows-test: $WIN32_NOTICE" >&2
  echo "!! windows-test: Wine steps run through the 64-bit loader $WINE" >&2
fi

for t in "${TARGETS[@]}"; do
  dir="$ROOT/build-${t%%:*}"
  for f in component/ZelvatScalesNativeDriver.dll tests/unit_tests.exe tests/host_tests.exe \
           tests/windows/windows_wire_tests.exe tests/windows/windows_unicode_tests.exe; do
    [ -f "$dir/$f" ] || { echo "windows-test: $dir/$f missing; run scripts/windows-build.sh" >&2; exit 1; }
  done
done
SIM="$ROOT/build-release/tools/zelscales"
[ -x "$SIM" ] || { echo "windows-test: $SIM missing; run scripts/windows-build.sh" >&2; exit 1; }

echo "== windows-test: PE checks"
"$ROOT/tests/windows/check-pe-selftest.sh"
"$ROOT/tests/windows/check-pe.sh" \
  "$ROOT/build-win32/component/ZelvatScalesNativeDriver.dll:i686" \
  "$ROOT/build-win64/component/ZelvatScalesNativeDriver.dll:x86_64"

export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
WINEPREFIX="$(mktemp -d /tmp/zel-wine.XXXXXX)"
SIM_PIDS=()
cleanup() {
  local pid
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== windows-test: Wine prefix $WINEPREFIX"
start=$SECONDS
if ! timeout 300 "$WINE" wineboot -i >"$WINEPREFIX.boot.log" 2>&1; then
  cat "$WINEPREFIX.boot.log" >&2
  rm -f "$WINEPREFIX.boot.log"
  echo "windows-test: wineboot failed" >&2
  exit 1
fi
rm -f "$WINEPREFIX.boot.log"
echo "windows-test: prefix ready in $((SECONDS - start)) s"

# Simulated scales for the wire test: each on a pseudo-terminal that Wine
# maps to a COM port, or on a TCP port. Started before the mapping is
# written, so the links exist when Wine's server next starts.
SIMDIR="$WINEPREFIX/sim"
mkdir -p "$SIMDIR"
WIRE_CASES=""
MAPPED_COMS=()
# start_sim NAME ARGS... : runs the simulator (not in a subshell, so that
# its process id is kept for the clean-up) and waits until it serves; its
# first line of output is the pty link or the TCP address.
start_sim() {
  local name="$1"; shift
  "$SIM" simulate --no-stdin "$@" >"$SIMDIR/$name.out" 2>&1 </dev/null &
  SIM_PIDS+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$SIMDIR/$name.out" ] && return 0
    sleep 0.05
  done
  echo "windows-test: simulator $name did not start:" >&2
  cat "$SIMDIR/$name.out" >&2
  return 1
}
# com_case COMn MODEL EXPECT SIM-ARGS...
com_case() {
  local com="$1" model="$2" expect="$3"; shift 3
  start_sim "$com" --model "$model" --pty --link "$SIMDIR/$com" "$@"
  "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$SIMDIR/$com" /f >/dev/null 2>&1
  MAPPED_COMS+=("$com")
  WIRE_CASES+="$model,com,\\\\.\\$com,$expect;"
}
# tcp_case MODEL EXPECT SIM-ARGS...
tcp_case() {
  local model="$1" expect="$2" name="tcp$1-$2" address; shift 2
  start_sim "$name" --model "$model" --tcp 0 "$@"
  address="$(head -1 "$SIMDIR/$name.out")"
  WIRE_CASES+="$model,tcp,${address##*:},$expect;"
}
# What each model reports: CAS (13, 27) kilograms as shown, CAS-LP (14) and
# Massa-K (10) grams.
com_case COM7 13 1.234 --weight 1.234
com_case COM8 27 12.345 --weight 12.345
com_case COM10 14 2500 --weight 2.5 --price 10
# Model 10 (even parity) only over TCP here: Linux pseudo-terminals drop
# PARENB, and Wine then refuses every other SetCommState asking for parity.
com_case COM12 13 E3 --weight 1 --fault silence
com_case COM13 5 P1.234 --weight 1.234 --push-every 300
# The scanner scale (6): weight and scanned code in one event, and the broadcast.
com_case COM16 6 P1.234:4820000000017 --weight 1.234 --text 4820000000017 --push-every 300
# Radwag (35) kilograms as shown; R320 (11) thousandths.
com_case COM35 35 -1.234 --weight -1.234
# Prompribor: model 1 thousandths of the shown value; model 0 (even parity)
# grams, at a price where the cost equals the weight and is checked.
com_case COM61 1 12340 --weight 12.34 --decimals 2
tcp_case 13 0.5 --weight 0.5
tcp_case 27 -0.75 --weight -0.75
tcp_case 14 1250 --weight 1.25 --price 4
tcp_case 10 3200 --weight 3.2
tcp_case 14 E3 --weight 1 --fault silence
tcp_case 11 12500 --weight 12.5
tcp_case 0 4007 --weight 4.007 --price 10
# Model 32 reports the raw count, scaled by the coefficient alone (1.0 here).
tcp_case 32 P2500 --weight 2.5 --tare 0.1 --push-every 300
# Price-computing scales report kilograms from grams; 17 (8E2) and 30 (8E1)
# only over TCP.
com_case COM33 21 1.234 --weight 1.234 --price 12.5
tcp_case 30 -0.5 --weight -0.5 --price 10
# Indicators: IQ plus 355 (24) kilograms, ВН-220 on request (4) grams.
com_case COM24 24 1.234 --weight 1.234
tcp_case 4 -1500 --weight -1.5
# Мирвесов: the А12EH (31) streams kilograms, a negative reading's status
# byte equal to the frame start; the А9 (7) reports grams.
com_case COM31 31 -1.234 --weight -1.234 --gap 20
tcp_case 7 1234 --weight 1.234
# Modbus: the BST106 (41) reports its count (grams here), the D12 (40) kilograms.
com_case COM41 41 1234 --weight 1.234
tcp_case 40 -12.345 --weight -12.345
# Continuous output (18 OCS, 39 VIS): kilograms as shown, read from a stream;
# 2.069 gives an OCS check byte equal to the frame header.
com_case COM18 18 2.069 --weight 2.069 --gap 20 --pace 115200
tcp_case 39 -7.5 --weight -7.5 --gap 0 --pace 115200
# Wine reads the port mapping when its server starts.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
echo "windows-test: simulated scales: $WIRE_CASES"

failed=0
total_passed=0
total_failed=0
# run_suite NAME SUITE DIR COMMAND... : runs a gtest program under Wine from
# the folder DIR, adds its counts to the totals and shows what failed. A
# skipped test of the Windows-only suites fails them: they run only here,
# where everything they need is set up.
run_suite() {
  local name="$1" suite="$2" rundir="$3"; shift 3
  local log="$WINEPREFIX/$name-$suite.log" rc=0 passed nfailed skipped=0
  echo "== windows-test: $name $suite"
  (cd "$rundir" && timeout "$SUITE_TIMEOUT" "$@" --gtest_color=no) >"$log" 2>&1 </dev/null || rc=$?
  sed -i 's/\r$//' "$log"  # Wine's console writes CR LF
  # The gtest summary, and the details of whatever failed.
  grep -E '^model [0-9]+: window message|^\[==========\]|^\[  PASSED  \]|^\[  SKIPPED \]|^\[  FAILED  \]|^ *[0-9]+ FAILED TEST' "$log" || true
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  nfailed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS*$/\1/p' "$log" | tail -1)
  total_passed=$((total_passed + ${passed:-0}))
  total_failed=$((total_failed + ${nfailed:-0}))
  case "$suite" in
    windows_*) if grep -q '^\[  SKIPPED \]' "$log"; then skipped=1; fi ;;
  esac
  if [ "$rc" != 0 ] || ! grep -q '^\[  PASSED  \]' "$log" || [ "$skipped" = 1 ]; then
    failed=1
    if [ "$rc" = 124 ]; then echo "windows-test: $name $suite timed out after $SUITE_TIMEOUT s" >&2; fi
    echo "windows-test: $name $suite failed (exit $rc); its failures:" >&2
    # Each failed or skipped test's output, from its RUN line to its verdict.
    awk '/^\[ RUN      \]/ {buf=""} {buf=buf $0 "\n"}
         /^\[  (FAILED|SKIPPED) \] [^ ]+ \(/ {printf "%s", buf; buf=""}' "$log" | head -200 >&2
    if ! grep -q '^\[==========\]' "$log"; then tail -40 "$log" >&2; total_failed=$((total_failed + 1)); fi
  fi
}
UNICODE_FOLDER="Пользователь Әлия Ұңғқ"
for t in "${TARGETS[@]}"; do
  name="${t%%:*}"
  dir="$ROOT/build-$name"
  if [ "$name" = win32 ] && [ "$WIN32_RUNS" = 0 ]; then
    echo "== windows-test: $name Wine suites SKIPPED"
    echo "!! windows-test: $WIN32_NOTICE" >&2
    continue
  fi
  dest="$WINEPREFIX/drive_c/zel/$name"
  mkdir -p "$dest"
  cp "$dir/component/ZelvatScalesNativeDriver.dll" "$dir/tests/unit_tests.exe" "$dir/tests/host_tests.exe" \
     "$dir/tests/windows/windows_wire_tests.exe" "$dest/"
  for suite in unit_tests host_tests windows_wire_tests; do
    run_suite "$name" "$suite" "$dest" env ZEL_LIBRARY="C:\\zel\\$name\\ZelvatScalesNativeDriver.dll" \
      ZEL_WIRE_CASES="$WIRE_CASES" "$WINE" "C:\\zel\\$name\\$suite.exe"
  done
  # The library in a folder whose name the ANSI code page cannot hold (a
  # Cyrillic or Kazakh user's profile), the program started from there under
  # an English locale (ANSI code page 1252); the general log's folder exists
  # so that its level, read from the program's settings.ini, shows.
  udest="$dest/$UNICODE_FOLDER"
  mkdir -p "$udest" "$WINEPREFIX/drive_c/Quelvor/v4.0.2"
  cp "$dir/component/ZelvatScalesNativeDriver.dll" "$dir/tests/windows/windows_unicode_tests.exe" "$udest/"
  run_suite "$name" windows_unicode_tests "$udest" env LC_ALL=C.UTF-8 LANG=C.UTF-8 "$WINE" windows_unicode_tests.exe
  rm -rf "$WINEPREFIX/drive_c/Quelvor"
  # The command-line tool, cross-built too: weigh on the emulator (a silent
  # reading is asked again) and send a price, through the DLL beside it.
  cp "$dir/tools/zelscales.exe" "$dest/"
  for args in "weigh --count 2" "version" "price --price 12.50 --attempts 6"; do
    log="$WINEPREFIX/$name-zelscales.log"
    if (cd "$dest" && timeout 60 "$WINE" "C:\\zel\\$name\\zelscales.exe" $args) >"$log" 2>&1 </dev/null; then
      total_passed=$((total_passed + 1))
      echo "== windows-test: $name zelscales $args: $(tr -d '\r' <"$log" | tail -1)"
    else
      total_failed=$((total_failed + 1)); failed=1
      echo "windows-test: $name zelscales $args failed:" >&2; cat "$log" >&2
    fi
  done
  # A DLL of another build (its identity mark changed) is refused with 3
  # before it is loaded, and loaded with --force.
  mkdir -p "$dest/other"
  python3 - "$dir/component/ZelvatScalesNativeDriver.dll" "$dest/other/ZelvatScalesNativeDriver.dll" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
data, n = re.subn(rb"(\nZEL-BUILD-IDENTITY=)[0-9a-f]{16}\n", rb"\g<1>0000000000000000\n", data)
assert n > 0, "no build identity mark in the DLL"
open(sys.argv[2], "wb").write(data)
PY
  rc=0
  (cd "$dest" && timeout 60 "$WINE" "C:\\zel\\$name\\zelscales.exe" --library "C:\\zel\\$name\\other\\ZelvatScalesNativeDriver.dll" version) \
    >"$WINEPREFIX/$name-identity.log" 2>&1 </dev/null || rc=$?
  forced=0
  (cd "$dest" && timeout 60 "$WINE" "C:\\zel\\$name\\zelscales.exe" --force --library "C:\\zel\\$name\\other\\ZelvatScalesNativeDriver.dll" version) \
    >>"$WINEPREFIX/$name-identity.log" 2>&1 </dev/null || forced=$?
  if [ "$rc" = 3 ] && [ "$forced" = 0 ] && grep -q "is build 0000000000000000" "$WINEPREFIX/$name-identity.log"; then
    total_passed=$((total_passed + 1))
    echo "== windows-test: $name zelscales refuses a DLL of another build (3), loads it with --force"
  else
    total_failed=$((total_failed + 1)); failed=1
    echo "windows-test: $name zelscales with a DLL of another build: exit $rc, with --force $forced:" >&2
    cat "$WINEPREFIX/$name-identity.log" >&2
  fi
  # zelscales ports: every COM port mapped above, by its SERIALCOMM entry.
  # Wine does not refuse a second open of a serial device, so a held port
  # cannot show as busy here.
  ports_ok=1
  (cd "$dest" && timeout 60 "$WINE" "C:\\zel\\$name\\zelscales.exe" ports --json) >"$WINEPREFIX/$name-ports-json.log" 2>&1 </dev/null || ports_ok=0
  (cd "$dest" && timeout 60 "$WINE" "C:\\zel\\$name\\zelscales.exe" ports) >"$WINEPREFIX/$name-ports.log" 2>&1 </dev/null || ports_ok=0
  if [ "$ports_ok" = 1 ] && python3 - "$WINEPREFIX/$name-ports-json.log" "$WINEPREFIX/$name-ports.log" "${MAPPED_COMS[@]}" <<'PY'
import json, sys
ports = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
text = open(sys.argv[2], encoding="utf-8").read().replace("\r", "")
mapped = sys.argv[3:]
by_name = {p["name"]: p for p in ports}
missing = [c for c in mapped if c not in by_name]
assert not missing, "not listed: %s in %s" % (missing, sorted(by_name))
for c in mapped:
    assert by_name[c]["kind"] == "com" and by_name[c]["device"].startswith("\\Device\\"), by_name[c]
for c in mapped:
    line = [l for l in text.splitlines() if l.split()[:1] == [c]]
    assert line and line[0].split()[1:3] == ["com", "free"], (c, line)
PY
  then
    total_passed=$((total_passed + 1))
    echo "== windows-test: $name zelscales ports: the ${#MAPPED_COMS[@]} mapped COM ports listed, free"
  else
    total_failed=$((total_failed + 1)); failed=1
    echo "windows-test: $name zelscales ports failed:" >&2
    cat "$WINEPREFIX/$name-ports-json.log" "$WINEPREFIX/$name-ports.log" >&2
  fi
done

echo "windows-test: $((SECONDS - start)) s under Wine"
if [ "$WIN32_RUNS" = 0 ]; then echo "!! windows-test: $WIN32_NOTICE" >&2; fi
echo "windows: $total_passed passed, $total_failed failed"
exit "$failed"
