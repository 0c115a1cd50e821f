#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-15}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)"
found=0
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  name=$(basename "$f")
  mkdir -p "build-fuzz/corpus/$name"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "--- $name (${secs}s)"
  "$f" -max_total_time="$secs" -print_final_stats=0 "build-fuzz/corpus/$name" "${seeds[@]}" 2>&1 | tail -n 2
done
[ "$found" = 1 ] || { echo "no fuzz targets built" >&2; exit 1; }
