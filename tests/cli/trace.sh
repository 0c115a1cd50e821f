#!/usr/bin/env bash
# --trace against simulated scales: the line's open, the request, the reply
# and the close on stderr while the command runs; the private copy of the
# library gone afterwards, also after a signal; nothing written beside the
# user's library.
#   trace.sh ZELSCALES LIBRARY
set -euo pipefail
zelscales=$1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
mkdir "$work/lib" "$work/tmp"
cp "$2" "$work/lib/"
library="$work/lib/$(basename "$2")"
# The tool's temporary folders go to a folder of the test's own (env execs
# the tool: a background run's $! is the tool's own process).
tool=(env TMPDIR="$work/tmp" "$zelscales" --library "$library")

# The folder the trace ran the library from is gone, and so is anything
# else the run made in the temporary folder; the user's folder holds the
# library alone.
clean_after() {
  local copy
  copy=$(sed -n 's/^trace: \(.*\), a copy of .*/\1/p' "$work/err" | head -1)
  [ -n "$copy" ] || fail "$1: no trace line naming the copy"
  case "$copy" in "$work/tmp/"*) ;; *) fail "$1: the copy $copy is not in the temporary folder" ;; esac
  [ ! -e "$(dirname "$copy")" ] || fail "$1: $(dirname "$copy") is left"
  [ -z "$(ls -A "$work/tmp")" ] || fail "$1: left in the temporary folder: $(ls -A "$work/tmp")"
  [ "$(ls -A "$work/lib")" = "$(basename "$library")" ] || fail "$1: beside the library: $(ls -A "$work/lib")"
}
# expect_order NAME PATTERN... : lines matching the patterns, in this order.
expect_order() {
  local name=$1 at=0 n; shift
  for pattern in "$@"; do
    n=$(tail -n +$((at + 1)) "$work/err" | grep -n -m1 -E -- "$pattern" | cut -d: -f1) ||
      fail "$name: no '$pattern' after line $at"
    at=$((at + n))
  done
}
# wait_for FILE PATTERN : until FILE has a line matching PATTERN (30 s).
wait_for() {
  for _ in $(seq 300); do grep -q -E -- "$2" "$1" && return 0; sleep 0.1; done
  fail "no '$2' in $1"
}
wait_end() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && { kill -KILL "$1"; fail "still running 20 s after the signal"; }
  status=0
  wait "$1" || status=$?
}

t='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} '
start_sim cas --model 13 --pty --weight 2.5
cas=$address
start_sim keli --model 40 --pty --weight 2.5
keli=$address
start_sim pushing --model 5 --pty --weight 1.234 --push-every 200
pushing=$address

# A polled scale: each reading opens the line, sends 05 and 11, gets the
# acknowledgement and the frame, closes; stdout holds the readings alone.
"${tool[@]}" weigh --trace --model 13 --port "$cas" --baud 9600 --count 2 --interval 0 >"$work/out" 2>"$work/err" ||
  fail "weigh --trace"
# Two readings, then the summary.
[ "$(grep -c '^weight 2.500 kg' "$work/out")" = 2 ] && [ "$(grep -c . "$work/out")" = 3 ] &&
  grep -q '^answered 2 of 2, median [0-9]* ms and slowest [0-9]* ms to a reading; results 0 x2$' "$work/out" ||
  fail "weigh stdout: $(cat "$work/out")"
reading=("${t}open     COMPORT: $cas;" "${t}sent     05  \|\.\|$" "${t}sent     11  \|\.\|$"
         "${t}received .*02 53 20 20 32 2E 35 30 30 6B 67 76 03 04  \|.*S  2\.500kgv\.\.\|$" "${t}close$")
expect_order "weigh" "${reading[@]}" "${reading[@]}"
clean_after weigh
echo "ok: weigh --trace"

# The device test and tare go through the same line.
"${tool[@]}" test --trace --model 13 --port "$cas" --baud 9600 >"$work/out" 2>"$work/err" || fail "test --trace"
grep -q '^Вес: ' "$work/out" || fail "test: $(cat "$work/out")"
expect_order "test" "${reading[@]}"
clean_after test
"${tool[@]}" tare --trace --model 40 --port "$keli" --baud 9600 >"$work/out" 2>"$work/err" || fail "tare --trace"
[ "$(cat "$work/out")" = "tare done" ] || fail "tare: $(cat "$work/out")"
expect_order "tare" "${t}open     COMPORT: $keli;" "${t}sent     01 06 00 01 " "${t}received 01 06 00 01 " "${t}close$"
clean_after tare
echo "ok: test and tare --trace"

# detect drives the line itself and shows it the same way.
"${tool[@]}" detect --trace --port "$cas" --bauds 9600 >"$work/out" 2>"$work/err" || fail "detect --trace"
grep -q '^found group 13/27 at 9600 baud' "$work/out" || fail "detect: $(cat "$work/out")"
expect_order "detect" "${t}open     COMPORT: $cas;" "${t}sent     05  \|\.\|$" "${t}received .*02 53 20 20 32 2E 35" "${t}close$"
[ -z "$(ls -A "$work/tmp")" ] || fail "detect left $(ls -A "$work/tmp")"
echo "ok: detect --trace"

# An event-driven scale: the pushed frames and the acknowledgements show
# while listen runs; Ctrl-C ends it with its status, the line closed and
# the copy removed.
"${tool[@]}" listen --trace --model 5 --port "$pushing" --json >"$work/out" 2>"$work/err" </dev/null &
pid=$!
wait_for "$work/err" "${t}received 3C "
wait_for "$work/err" "${t}sent     3C "
kill -0 "$pid" || fail "listen ended by itself"
kill -INT "$pid"
wait_end "$pid"
pid=""
[ "$status" = 130 ] || fail "listen --trace on SIGINT: exit $status, wanted 130"
grep -q '"weight":1.234' "$work/out" || fail "listen: no reading"
expect_order "listen" "${t}open     COMPORT: $pushing;" "${t}received 3C " "${t}close$"
clean_after listen
echo "ok: listen --trace, live, stopped by SIGINT -> 130"

# SIGTERM in a run without end.
"${tool[@]}" weigh --trace --model 13 --port "$cas" --baud 9600 --count 0 --interval 100 >"$work/out" 2>"$work/err" </dev/null &
pid=$!
wait_for "$work/err" "${t}received "
kill -TERM "$pid"
wait_end "$pid"
pid=""
[ "$status" = 143 ] || fail "weigh --trace on SIGTERM: exit $status, wanted 143"
clean_after "weigh on SIGTERM"
echo "ok: weigh --trace --count 0 stopped by SIGTERM -> 143"

# A reader of the trace that goes away (`2>&1 | head`) ends the run as a
# closed pipe does, the copy removed all the same.
set +e
"${tool[@]}" weigh --trace --model 13 --port "$cas" --baud 9600 --count 0 --interval 50 2>&1 >/dev/null </dev/null |
  head -3 >"$work/err"
status=${PIPESTATUS[0]}
set -e
[ "$status" = 141 ] || fail "weigh --trace | head: exit $status, wanted 141"
clean_after "weigh --trace | head"
echo "ok: weigh --trace 2>&1 | head -> 141"

# listen --verbose shows the driver calls, and no longer switches the
# traffic log on beside the library.
"${tool[@]}" --verbose listen --model 5 --port "$pushing" --count 2 >"$work/out" 2>"$work/err" </dev/null || fail "listen --verbose"
grep -q '^> Open(' "$work/err" || fail "listen --verbose: no driver calls"
[ "$(ls -A "$work/lib")" = "$(basename "$library")" ] || fail "listen --verbose wrote beside the library: $(ls -A "$work/lib")"
echo "ok: listen --verbose writes nothing beside the library"

# Refusals: no copy made.
while IFS='|' read -r expected args; do
  status=0
  # shellcheck disable=SC2086
  TMPDIR="$work/tmp" "$zelscales" $args >/dev/null 2>"$work/err" </dev/null || status=$?
  [ "$status" = "$expected" ] || fail "zelscales $args: exit $status, wanted $expected"
  [ -z "$(ls -A "$work/tmp")" ] || fail "zelscales $args: left $(ls -A "$work/tmp")"
done <<EOT
2|--library $library models --trace
2|--library $library weigh --trace --model 13
3|--library $work/no-such-library.so weigh --trace
3|--library $work/lib weigh --trace
EOT
echo "trace: ok"
