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
# With no arguments every stage runs; otherwise only the stages named.
#
# First every stage builds, two builds at a time (compiling is what keeps a
# machine busy); then every stage's tests run side by side, with no compiler
# beside them, the sanitizer stages' each alone after the others', so the
# suites that hold bounds on time see a machine they can keep them on.
# Within a stage, ctest runs ZEL_CTEST_JOBS test programs at once (default
# 3; the long ones are split in shards): most of their time is spent waiting
# on lines and clocks. The fuzzers run niced.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(native asan tsan windows fuzz package)
for s in "${stages[@]}"; do
  case "$s" in native | asan | tsan | fuzz | windows | package) ;; *) echo "unknown stage $s" >&2; exit 2 ;; esac
done

# Install what the chosen stages need, once, before any of them starts.
scripts/deps.sh "${stages[@]}" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

build_stage() {
  case "$1" in
    native | asan | tsan) cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" ;;
    fuzz) ZEL_FUZZ_BUILD_ONLY=1 scripts/fuzz.sh ;;
    windows) scripts/windows-build.sh ;;
    # What the package takes, as the Windows stage leaves it when it ran.
    package)
      scripts/release-build.sh linux ZelvatScalesNativeDriver zelscales &&
        scripts/release-build.sh win32 ZelvatScalesNativeDriver zelscales &&
        scripts/release-build.sh win64 ZelvatScalesNativeDriver zelscales
      ;;
  esac
}

test_stage() {
  case "$1" in
    native | asan | tsan) ctest --preset "$1" -j "${ZEL_CTEST_JOBS:-3}" ;;
    fuzz) nice -n 10 scripts/fuzz.sh 15 ;;
    windows) scripts/windows-test.sh ;;
    package) scripts/package.sh && scripts/debian11-check.sh ;;
  esac
}

logdir=$(mktemp -d /tmp/zel-stages.XXXXXX)
trap 'rm -rf "$logdir"' EXIT
declare -A pid_of=() started_at=() built_in=() broken=()
passed=0 failed=0 failures=()

# Runs `$2 $1` into the stage's log in the background.
launch() {  # stage step
  started_at[$1]=$(date +%s)
  "$2" "$1" >>"$logdir/$1.log" 2>&1 &
  pid_of[$1]=$!
}

# Waits for one of the running steps to end and returns its stage in $ended,
# its status in $status.
reap() {
  local r
  while :; do
    wait -n 2>/dev/null || true
    for r in "${!pid_of[@]}"; do
      if ! kill -0 "${pid_of[$r]}" 2>/dev/null; then
        status=0
        wait "${pid_of[$r]}" || status=$?
        unset "pid_of[$r]"
        ended=$r
        return
      fi
    done
  done
}

# Builds, two at a time.
built() {  # waits for a build to end
  reap
  built_in[$ended]=$(($(date +%s) - started_at[$ended]))
  [ "$status" = 0 ] || broken[$ended]=1
  echo "=== built $ended (${built_in[$ended]} s)${broken[$ended]:+: FAILED}"
}
echo "=== building: ${stages[*]}"
for s in "${stages[@]}"; do
  while [ "${#pid_of[@]}" -ge 2 ]; do built; done
  launch "$s" build_stage
done
while [ "${#pid_of[@]}" -gt 0 ]; do built; done

# Then the tests, all stages at once; each stage's output printed whole when
# it ends.
finish() {  # stage status
  echo "=== stage: $1"
  cat "$logdir/$1.log"
  local took=$(($(date +%s) - started_at[$1]))
  if [ "$2" = 0 ]; then
    passed=$((passed + 1)); echo "=== stage $1 passed (build ${built_in[$1]} s, tests $took s)"
  else
    failed=$((failed + 1)); failures+=("$1"); echo "=== stage $1 FAILED (build ${built_in[$1]} s, tests $took s)"
  fi
}
test_wave() {  # stages
  local s
  for s in "$@"; do
    if [ -n "${broken[$s]:-}" ]; then
      started_at[$s]=$(date +%s)
      finish "$s" 1
      continue
    fi
    launch "$s" test_stage
    echo "=== testing $s"
  done
  while [ "${#pid_of[@]}" -gt 0 ]; do
    reap
    finish "$ended" "$status"
  done
}
# A sanitizer slows a program two- (AddressSanitizer) to fifteenfold
# (ThreadSanitizer): beside five other stages their suites that hold bounds
# on time (detect's windows, a healthy scale's first reply, the latency of a
# weight) missed them. So the other stages' tests run side by side first,
# then each sanitizer stage's alone.
wave=()
for s in "${stages[@]}"; do
  case "$s" in asan | tsan) ;; *) wave+=("$s") ;; esac
done
[ ${#wave[@]} -gt 0 ] && test_wave "${wave[@]}"
for s in asan tsan; do
  case " ${stages[*]} " in *" $s "*) test_wave "$s" ;; esac
done
[ ${#failures[@]} -gt 0 ] && echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
# Every stage asked for must have run and passed.
[ "$failed" -eq 0 ] && [ "$passed" -eq "${#stages[@]}" ]
