#!/usr/bin/env bash
# The platform's archive as shipped, unpacked into a temporary folder:
#  - MANIFEST.XML names the three libraries (os, arch, path), each is in the
#    archive, and the archive holds nothing else but the technician's kit:
#    README.txt (naming every file, CR LF line ends) and the zelscales tool
#    for Linux x64 and Windows x86 and x64, each built for its system;
#  - each library is stripped (no DWARF, no symbols listed), carries a debug
#    link whose name and checksum match its file in DEBUG-DIR, and that file
#    holds the symbols of a Release build (our sources compiled with -O2 or more);
#  - the Linux library passes tests/linux/check-so.sh (and so does the tool), the DLLs
#    tests/windows/check-pe.sh;
#  - each library is loaded from the unpacked tree by the packaged tool beside
#    it, which must name that very file (version, and weighing on the
#    emulator): the .so by zelscales, the DLLs by zelscales_x64.exe and
#    zelscales_x86.exe under Wine; the Linux tool in a folder of its own picks
#    the packaged name over the plain one and takes the plain one alone.
#    Where the machine cannot execute 32-bit x86 programs (`wine --version`
#    fails there, as in scripts/windows-test.sh), the x86 DLL and tool are
#    only checked, with a notice.
#   check-package.sh ZIP DEBUG-DIR
# ZEL_PACKAGE_NO_LOAD=1 stops before loading (check-package-selftest.sh).
set -euo pipefail
[ $# -eq 2 ] || { sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
zip=$(realpath "$1") debug=$(realpath "$2")
tests=$(cd "$(dirname "$0")/.." && pwd)
NAME=ZelvatScalesNativeDriver

work=$(mktemp -d /tmp/zel-package.XXXXXX)
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
complain() { echo "check-package: FAIL: $*" >&2; fail=1; }

tree="$work/unpacked"
mkdir -p "$tree"
(cd "$tree" && cmake -E tar xf "$zip")
echo "check-package: $zip unpacked into $tree"

# The manifest and the tree.
manifest="$tree/MANIFEST.XML"
[ -f "$manifest" ] || { echo "check-package: FAIL: no MANIFEST.XML in $zip" >&2; exit 1; }
components=(
  "Windows|${NAME}_x86.dll|i386|i686"
  "Windows|${NAME}_x64.dll|x86_64|x86_64"
  "Linux|${NAME}_x64.so|x86_64|"
)
for c in "${components[@]}"; do
  IFS='|' read -r os path arch _ <<<"$c"
  grep -qF "<component os=\"$os\" path=\"$path\" type=\"native\" arch=\"$arch\"/>" "$manifest" ||
    complain "MANIFEST.XML does not name $path for $os $arch"
  [ -f "$tree/$path" ] || complain "$path is named in MANIFEST.XML but not in the archive"
done
[ "$(grep -c '<component ' "$manifest")" = "${#components[@]}" ] || complain "MANIFEST.XML names other components"
# The kit: FILE|WHAT `objdump -f` (or `file`) tells of it
kit=(
  "README.txt|"
  "zelscales|elf64-x86-64"
  "zelscales_x86.exe|pei-i386"
  "zelscales_x64.exe|pei-x86-64"
)
expected_files=(MANIFEST.XML)
for c in "${components[@]}"; do expected_files+=("$(cut -d'|' -f2 <<<"$c")"); done
for k in "${kit[@]}"; do
  IFS='|' read -r file format <<<"$k"
  expected_files+=("$file")
  if [ ! -f "$tree/$file" ]; then complain "$file missing from the archive"; continue; fi
  if [ -n "$format" ] && ! objdump -f "$tree/$file" 2>/dev/null | grep -q "file format $format\$"; then
    complain "$file is not $format: $(objdump -f "$tree/$file" 2>&1 | grep -m1 'file format' || true)"
  fi
done
others=$(cd "$tree" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' "${expected_files[@]}" | sort) | tr '\n' ' ')
[ -z "$others" ] || complain "the archive holds other files: $others"
if [ -f "$tree/README.txt" ]; then
  # Written for Notepad; it names what the archive holds.
  if grep -qv $'\r$' "$tree/README.txt"; then complain "README.txt has lines without CR LF"; fi
  for file in "${expected_files[@]}"; do
    grep -qF "$file" "$tree/README.txt" || complain "README.txt does not name $file"
  done
fi
[ ! -f "$tree/zelscales" ] || [ -x "$tree/zelscales" ] || complain "zelscales is not executable once unpacked"

# check_stripped LIBRARY OBJDUMP-PREFIX: no DWARF and no symbol left, a
# debug link to DEBUG-DIR/<name>.debug with that file's CRC-32, and in that
# file the DWARF of our sources built with optimisation.
check_stripped() {
  local lib=$1 prefix=$2 name sections link linked crc
  name=$(basename "$lib")
  sections=$("${prefix}objdump" -h "$lib" | awk '$1 ~ /^[0-9]+$/ {print $2}')
  if grep -q '^\.debug_' <<<"$sections"; then complain "$name still holds debug sections"; fi
  if [ "$("${prefix}objdump" -t "$lib" 2>/dev/null | grep -c '^\[\|^[0-9a-f]\{8,\} ' || true)" != 0 ]; then
    complain "$name still lists symbols"
  fi
  link="$work/$name.debuglink"
  "${prefix}objcopy" --dump-section .gnu_debuglink="$link" "$lib" "$work/scratch" 2>/dev/null || true
  if [ ! -s "$link" ]; then complain "$name has no debug link"; return; fi
  # The section: the file name, NUL, padding to 4 bytes, the CRC-32 (little-endian).
  read -r linked crc < <(python3 -c '
import sys, struct
data = open(sys.argv[1], "rb").read()
name = data[:data.index(b"\0")].decode()
print(name, struct.unpack("<I", data[-4:])[0])' "$link")
  [ "$linked" = "$name.debug" ] || complain "$name links to '$linked', not $name.debug"
  [ -f "$debug/$linked" ] || { complain "$debug/$linked missing"; return; }
  [ "$(python3 -c 'import sys, zlib; print(zlib.crc32(open(sys.argv[1], "rb").read()))' "$debug/$linked")" = "$crc" ] ||
    complain "$debug/$linked does not match the checksum in $name's debug link"
  sections=$("${prefix}objdump" -h "$debug/$linked")
  grep -q ' \.debug_info ' <<<"$sections" || complain "$debug/$linked holds no DWARF"
  # Our sources are C++20; each of their compilation units records its options.
  local producers
  producers=$(strings -a "$debug/$linked" | grep -E '^GNU C\+\+20 .* -std=c\+\+20' | sort -u || true)
  if [ -z "$producers" ]; then
    complain "$debug/$linked: no compilation unit of ours found"
  elif grep -vqE ' -O[23s]( |$)' <<<"$producers"; then
    complain "$name: not a Release build: $(grep -vE ' -O[23s]( |$)' <<<"$producers" | head -1)"
  fi
  echo "check-package: $name stripped ($(stat -c %s "$lib") bytes), symbols in $linked ($(stat -c %s "$debug/$linked") bytes)"
}
check_stripped "$tree/${NAME}_x64.so" ""
check_stripped "$tree/${NAME}_x86.dll" i686-w64-mingw32-
check_stripped "$tree/${NAME}_x64.dll" x86_64-w64-mingw32-
"$tests/linux/check-so.sh" "$tree/${NAME}_x64.so" || fail=1
"$tests/windows/check-pe.sh" "$tree/${NAME}_x86.dll:i686" "$tree/${NAME}_x64.dll:x86_64" || fail=1

# load_and_weigh LABEL LIBRARY-AS-THE-TOOL-SEES-IT COMMAND... : the tool's
# version and weigh commands, the tool finding the library itself; it must
# report that very path (Windows paths compared without regard to case), and
# the emulator a reading.
load_and_weigh() {
  local label=$1 library=$2 out="$work/tool.out"; shift 2
  if ! "$@" version >"$out" 2>&1 </dev/null; then
    complain "$label: version failed:"; cat "$out" >&2; return
  fi
  tr -d '\r' <"$out" >"$out.lf"
  grep -qxiF "library $library" "$out.lf" || { complain "$label: another library was loaded:"; cat "$out" >&2; }
  echo "check-package: $label: $(head -1 "$out.lf"), $(grep -m1 '^library ' "$out.lf")"
  if ! "$@" weigh --count 3 --attempts 6 --json >"$out" 2>"$work/tool.err" </dev/null; then
    complain "$label: no reading from the emulator:"; cat "$out" "$work/tool.err" >&2; return
  fi
  tr -d '\r' <"$out" >"$out.lf"
  "$tests/cli/json_lines.py" "$out.lf" 3 model=20 >/dev/null || complain "$label: weigh output"
  echo "check-package: $label: $(grep -m1 '"result":0' "$out.lf")"
}
if [ "${ZEL_PACKAGE_NO_LOAD:-}" = 1 ]; then
  [ "$fail" = 0 ] && echo "check-package: all checks passed (libraries not loaded)"
  exit "$fail"
fi
"$tests/linux/check-so.sh" --tool "$tree/zelscales" || fail=1
load_and_weigh "${NAME}_x64.so" "$tree/${NAME}_x64.so" "$tree/zelscales"
# The Linux tool copied into a folder with LIBRARIES (packaged or plain
# names): it loads the one named. Copies of the packaged .so.
lookup_cases=(
  "${NAME}_x64.so ${NAME}.so|${NAME}_x64.so"
  "${NAME}.so|${NAME}.so"
)
for c in "${lookup_cases[@]}"; do
  IFS='|' read -r libraries want <<<"$c"
  folder="$work/lookup"
  rm -rf "$folder"; mkdir -p "$folder"
  cp "$tree/zelscales" "$folder/"
  for l in $libraries; do cp "$tree/${NAME}_x64.so" "$folder/$l"; done
  "$folder/zelscales" version >"$work/lookup.out" 2>&1 </dev/null || true
  grep -qxF "library $folder/$want" "$work/lookup.out" ||
    { complain "zelscales beside $libraries did not load $want:"; cat "$work/lookup.out" >&2; }
done
echo "check-package: zelscales beside both names loads ${NAME}_x64.so, beside the plain name alone that one"

# Wine, in a throw-away prefix.
export WINEPREFIX="$work/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
source "$(dirname "$0")/../../scripts/wine-loader.sh"
[ -n "$WINE" ] || { complain "no Wine loader runs on this machine"; exit 1; }
if ! timeout 300 "$WINE" wineboot -i >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log" >&2
  complain "wineboot failed"
  exit 1
fi
windows_path() { echo "Z:${1//\//\\}"; }
load_and_weigh "${NAME}_x64.dll" "$(windows_path "$tree/${NAME}_x64.dll")" "$WINE" "$tree/zelscales_x64.exe"
if [ "$WIN32_RUNS" = 1 ]; then
  load_and_weigh "${NAME}_x86.dll" "$(windows_path "$tree/${NAME}_x86.dll")" "$WINE" "$tree/zelscales_x86.exe"
else
  echo "!! check-package: $WIN32_WHY: ${NAME}_x86.dll is checked (PE32 i386, its exports and imports, stripped) but not loaded, nor zelscales_x86.exe run" >&2
fi

[ "$fail" = 0 ] && echo "check-package: all checks passed"
exit "$fail"
