#!/usr/bin/env bash
# Builds the three libraries for the platform in Release, strips them, and
# packs them into one archive with MANIFEST.XML, the technician's kit beside
# them (the zelscales tool for each system and a README.txt):
#   dist/ZelvatScalesNativeDriver-<version>-<commit>.zip   what is shipped
#   dist/ZelvatScalesNativeDriver.zip          a link to the latest of them
#   dist/ZelvatScalesNativeDriver-debug/       the debug symbols, one .debug
#                                              file per library, linked by name
#                                              (.gnu_debuglink) from it
# The version is the component's version text, the commit the short hash of
# HEAD ("-dirty" when tracked files differ from it).
# Release builds, compiled with -g for the symbols kept aside: build-release/
# (Linux), build-win32/ and build-win64/ (MinGW-w64), made by
# scripts/release-build.sh and shared with the Windows suites. Then checks
# the archive against its manifest and runs tests/package/check-package.sh on
# it: unpacked, each
# library loaded from the unpacked tree by the tool beside it (and its
# self-test, on spoilt copies).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
NAME=ZelvatScalesNativeDriver

# The three builds, as scripts/windows-build.sh leaves them when it ran first.
"$ROOT/scripts/release-build.sh" linux "$NAME" zelscales
"$ROOT/scripts/release-build.sh" win32 "$NAME" zelscales
"$ROOT/scripts/release-build.sh" win64 "$NAME" zelscales

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
debug="$ROOT/dist/$NAME-debug"
rm -rf "$debug"
mkdir -p "$debug"

# strip_into SOURCE PACKAGED-NAME TOOL-PREFIX: the stripped library into the
# stage, its debug symbols into dist/, and the link from one to the other.
strip_into() {
  local source=$1 name=$2 prefix=$3
  cp "$source" "$stage/$name"
  "${prefix}objcopy" --only-keep-debug "$stage/$name" "$debug/$name.debug"
  # An ELF library keeps only its dynamic symbols. A PE image needs no COFF
  # symbol at all (its exports are in its own table), and --strip-unneeded
  # would keep the import thunks' ones.
  case "$name" in
    *.dll) "${prefix}strip" --strip-all "$stage/$name" ;;
    *) "${prefix}strip" --strip-unneeded "$stage/$name" ;;
  esac
  # The link records the debug file's name and checksum; made beside it.
  (cd "$debug" && "${prefix}objcopy" --add-gnu-debuglink="$name.debug" "$stage/$name")
  echo "package: $name $(stat -c %s "$source") -> $(stat -c %s "$stage/$name") bytes, symbols in $name.debug"
}
strip_into build-release/component/$NAME.so ${NAME}_x64.so ""
strip_into build-win32/component/$NAME.dll ${NAME}_x86.dll i686-w64-mingw32-
strip_into build-win64/component/$NAME.dll ${NAME}_x64.dll x86_64-w64-mingw32-

# The kit: each tool stripped (no symbols kept aside), named so that all three
# sit beside the libraries; each loads the library of its own system first.
kit_tool() {
  local source=$1 name=$2 prefix=$3
  cp "$source" "$stage/$name"
  "${prefix}strip" --strip-all "$stage/$name"
}
kit_tool build-release/tools/zelscales zelscales ""
kit_tool build-win32/tools/zelscales.exe zelscales_x86.exe i686-w64-mingw32-
kit_tool build-win64/tools/zelscales.exe zelscales_x64.exe x86_64-w64-mingw32-
version=$(sed -n 's/^const char16_t kVersion\[\] = u"\([0-9.]*\) .*/\1/p' component/Methods.cpp)
[ -n "$version" ] || { echo "package: no version text in component/Methods.cpp" >&2; exit 1; }
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ "$commit" != unknown ] && ! git diff --quiet HEAD -- 2>/dev/null; then commit+=-dirty; fi
# The readme with Windows line ends, for Notepad.
sed -e "s/@VERSION@/$version/" -e "s/@COMMIT@/$commit/" -e 's/$/\r/' scripts/package-readme.txt >"$stage/README.txt"
KIT=(README.txt zelscales zelscales_x86.exe zelscales_x64.exe)

printf '%s\r\n' \
  '<?xml version="1.0" encoding="UTF-8"?>' \
  '<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">' \
  "  <component os=\"Windows\" path=\"${NAME}_x86.dll\" type=\"native\" arch=\"i386\"/>" \
  "  <component os=\"Windows\" path=\"${NAME}_x64.dll\" type=\"native\" arch=\"x86_64\"/>" \
  "  <component os=\"Linux\" path=\"${NAME}_x64.so\" type=\"native\" arch=\"x86_64\"/>" \
  '</bundle>' >"$stage/MANIFEST.XML"

mkdir -p dist
out="$ROOT/dist/$NAME-$version-$commit.zip"
rm -f "$ROOT/dist/$NAME.zip" "$ROOT/dist/$NAME"-[0-9]*.zip
(cd "$stage" && cmake -E tar cf "$out" --format=zip MANIFEST.XML ${NAME}_x86.dll ${NAME}_x64.dll ${NAME}_x64.so \
  "${KIT[@]}")
ln -s "$(basename "$out")" "$ROOT/dist/$NAME.zip"

# Every path the manifest names is in the archive, and nothing else is but the kit.
listed=$(cmake -E tar tf "$out" | sort)
named=$( (echo MANIFEST.XML; printf '%s\n' "${KIT[@]}"; grep -o 'path="[^"]*"' "$stage/MANIFEST.XML" | cut -d'"' -f2) | sort)
[ "$listed" = "$named" ] || { echo "package: archive and manifest differ:"; echo "$listed"; echo "--"; echo "$named"; exit 1; } >&2
echo "package: $out"
echo "$listed" | sed 's/^/  /'
echo "package: debug symbols in $debug"
ls "$debug" | sed 's/^/  /'

tests/package/check-package.sh "$out" "$debug"
# ... and that check refuses archives spoilt in the ways it looks for.
tests/package/check-package-selftest.sh "$out" "$debug" build-release/component/$NAME.so
