#!/usr/bin/env bash
# Every test suite of the project, each stage in its own build directory:
#   native     GCC build, all test executables through CTest
#   asan       AddressSanitizer + UndefinedBehaviorSanitizer build, all tests
#   tsan       ThreadSanitizer build, all tests
#   fuzz       clang/libFuzzer build, each fuzzer for a short run
#   windows    MinGW-w64 i686 and x86_64 DLLs, their tests under Wine
#   package    Release builds of the three libraries, stripped, in the platform's
#              archive with MANIFEST.XML; unpacked and each library loaded; then
#              the Linux library and tool on Debian 11 (scripts/debian11-check.sh)
# With no arguments every stage runs; otherwise only the stages named. Stages
# run side by side (ZEL_STAGE_JOBS at once, default 4); the package runs last.
# Within a stage, ctest runs ZEL_CTEST_JOBS test programs at once (default
# 3; the long ones are split in shards): most of their time is spent waiting
# on lines and clocks.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(native asan tsan windows fuzz package)

# Install what the chosen stages need, once, before any of them starts.
scripts/deps.sh "${stages[@]}" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

ctest_stage() {  # preset (CMakePresets.json): configure, build, every test
  cmake --preset "$1" >/dev/null &&
    cmake --build --preset "$1" -j"$jobs" &&
    ctest --preset "$1" -j "${ZEL_CTEST_JOBS:-3}"
}

run_stage() {
  case "$1" in
    native) ctest_stage native ;;
    asan) ctest_stage asan ;;
    tsan) ctest_stage tsan ;;
    fuzz) scripts/fuzz.sh 15 ;;
    windows) scripts/windows-build.sh && scripts/windows-test.sh ;;
    package) scripts/package.sh && scripts/debian11-check.sh ;;
    *) echo "unknown stage $1" >&2; return 2 ;;
  esac
}

# Stages run side by side (their tests mostly wait on lines and clocks), at
# most ZEL_STAGE_JOBS at once; each one's output is printed whole when it ends.
logdir=$(mktemp -d /tmp/zel-stages.XXXXXX)
trap 'rm -rf "$logdir"' EXIT
max=${ZEL_STAGE_JOBS:-4}
declare -A pid_of=() started_at=()
passed=0 failed=0 failures=()

finish() {  # stage
  local s=$1 rc=0
  wait "${pid_of[$s]}" || rc=$?
  echo "=== stage: $s"
  cat "$logdir/$s.log"
  if [ "$rc" = 0 ]; then
    passed=$((passed + 1)); echo "=== stage $s passed ($(( $(date +%s) - started_at[$s] )) s)"
  else
    failed=$((failed + 1)); failures+=("$s"); echo "=== stage $s FAILED ($(( $(date +%s) - started_at[$s] )) s)"
  fi
  unset "pid_of[$s]"
}

# The package makes its own Release builds and boots Wine: it runs last, alone.
last=()
for s in "${stages[@]}"; do
  if [ "$s" = package ]; then last+=("$s"); continue; fi
  while [ "${#pid_of[@]}" -ge "$max" ]; do
    wait -n 2>/dev/null || true
    for r in "${!pid_of[@]}"; do kill -0 "${pid_of[$r]}" 2>/dev/null || finish "$r"; done
  done
  started_at[$s]=$(date +%s)
  run_stage "$s" >"$logdir/$s.log" 2>&1 &
  pid_of[$s]=$!
  echo "=== started stage $s"
done
while [ "${#pid_of[@]}" -gt 0 ]; do
  wait -n 2>/dev/null || true
  for r in "${!pid_of[@]}"; do kill -0 "${pid_of[$r]}" 2>/dev/null || finish "$r"; done
done
for s in "${last[@]}"; do
  started_at[$s]=$(date +%s)
  run_stage "$s" >"$logdir/$s.log" 2>&1 &
  pid_of[$s]=$!
  finish "$s"
done
[ ${#failures[@]} -gt 0 ] && echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
# Every stage asked for must have run and passed.
[ "$failed" -eq 0 ] && [ "$passed" -eq "${#stages[@]}" ]
