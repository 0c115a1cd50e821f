#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [seconds-per-target] [target...]      e.g. scripts/fuzz.sh 600 fuzz_host_calls
# Each target starts from its seeds in fuzz/corpus/<target>/ and grows its
# corpus in build-fuzz/corpus/<target>/. A unit running over 10 s counts as a
# hang. Findings are written to build-fuzz/artifacts/; the script goes on with
# the other targets and fails at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-15}
[ $# -gt 0 ] && shift
wanted=("$@")
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)"
# ZEL_FUZZ_BUILD_ONLY=1: built, not run (the test stages build first).
[ -z "${ZEL_FUZZ_BUILD_ONLY:-}" ] || exit 0
mkdir -p build-fuzz/artifacts build-fuzz/logs
found=0 failed=()
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " == *" $name "* ]]; then continue; fi
  found=1
  mkdir -p "build-fuzz/corpus/$name"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "--- $name (${secs}s)"
  log="build-fuzz/logs/$name.log"
  if "$f" -max_total_time="$secs" -timeout=10 -print_final_stats=0 \
      -artifact_prefix="build-fuzz/artifacts/$name-" "build-fuzz/corpus/$name" "${seeds[@]}" >"$log" 2>&1; then
    tail -n 2 "$log"
  else
    tail -n 40 "$log"
    failed+=("$name")
  fi
done
[ "$found" = 1 ] || { echo "no fuzz targets built" >&2; exit 1; }
[ ${#failed[@]} -eq 0 ] || { echo "fuzz findings in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2; exit 1; }
