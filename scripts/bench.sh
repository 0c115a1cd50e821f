#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/) and runs them all, printing
# the tables the README's performance section shows.
#   scripts/bench.sh [quick]
# quick: fewer calls and presses and 3 s idle windows, for a look in about
# five minutes instead of twenty. Run it on an otherwise quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=ON \
  "${launcher[@]}" >/dev/null
cmake --build build-bench -j2 --target model_bench polled_bench idle_cost memory_cost >/dev/null
b=build-bench/bench
calls=30 presses=100 seconds=10
if [ "${1:-}" = quick ]; then calls=10 presses=20 seconds=3; fi
echo "## GetWeight against the wire-time floor, 9600 baud (model_bench)"
echo
"$b/model_bench" --polled-only --calls "$calls"
echo
echo "## Event latency after the frame's last byte, 9600 baud (model_bench)"
"$b/model_bench" --events-only --presses "$presses"
echo
echo "## Lag from the reply's last byte to GetWeight returning (polled_bench)"
"$b/polled_bench" --benchmark_counters_tabular=true
echo
echo "## CPU of idle devices over ${seconds} s (idle_cost)"
echo
"$b/idle_cost" --seconds "$seconds"
echo
echo "## Memory per open device (memory_cost)"
echo
"$b/memory_cost"
