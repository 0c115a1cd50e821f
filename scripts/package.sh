#!/usr/bin/env bash
# Packs the libraries for the platform into one archive with MANIFEST.XML:
#   dist/ZelvatScalesNativeDriver.zip
# Uses the Linux library from build-test/ (or build/) and the DLLs from
# build-win32/ and build-win64/ (scripts/windows-build.sh); then lists the
# archive and checks that the manifest names exactly the files it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=""
for d in build-test build; do
  [ -f "$d/component/ZelvatScalesNativeDriver.so" ] && { linux="$d/component/ZelvatScalesNativeDriver.so"; break; }
done
[ -n "$linux" ] || { echo "package: build the Linux library first" >&2; exit 1; }
for f in build-win32/component/ZelvatScalesNativeDriver.dll build-win64/component/ZelvatScalesNativeDriver.dll; do
  [ -f "$f" ] || { echo "package: $f missing (scripts/windows-build.sh)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp build-win32/component/ZelvatScalesNativeDriver.dll "$stage/ZelvatScalesNativeDriver_x86.dll"
cp build-win64/component/ZelvatScalesNativeDriver.dll "$stage/ZelvatScalesNativeDriver_x64.dll"
cp "$linux" "$stage/ZelvatScalesNativeDriver_x64.so"
printf '%s\r\n' \
  '<?xml version="1.0" encoding="UTF-8"?>' \
  '<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">' \
  '  <component os="Windows" path="ZelvatScalesNativeDriver_x86.dll" type="native" arch="i386"/>' \
  '  <component os="Windows" path="ZelvatScalesNativeDriver_x64.dll" type="native" arch="x86_64"/>' \
  '  <component os="Linux" path="ZelvatScalesNativeDriver_x64.so" type="native" arch="x86_64"/>' \
  '</bundle>' >"$stage/MANIFEST.XML"

mkdir -p dist
out="$PWD/dist/ZelvatScalesNativeDriver.zip"
rm -f "$out"
(cd "$stage" && cmake -E tar cf "$out" --format=zip MANIFEST.XML ZelvatScalesNativeDriver_x86.dll \
   ZelvatScalesNativeDriver_x64.dll ZelvatScalesNativeDriver_x64.so)

# Every path the manifest names is in the archive, and nothing else is.
listed=$(cmake -E tar tf "$out" | sort)
named=$( (echo MANIFEST.XML; grep -o 'path="[^"]*"' "$stage/MANIFEST.XML" | cut -d'"' -f2) | sort)
[ "$listed" = "$named" ] || { echo "package: archive and manifest differ:"; echo "$listed"; echo "--"; echo "$named"; exit 1; } >&2
echo "package: $out"
echo "$listed" | sed 's/^/  /'
