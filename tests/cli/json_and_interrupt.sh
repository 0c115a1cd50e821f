#!/usr/bin/env bash
# Scriptable output against simulated scales: --json lines that parse, the
# exit statuses, and a run without end (--count 0) stopped by a signal, which
# closes the device and frees the line.
# The driver runs from a copy of LIBRARY in a folder of the test's own, so
# that nothing a run leaves beside its library lands in the build tree.
#   json_and_interrupt.sh ZELSCALES LIBRARY
set -euo pipefail
set -f  # the JSON conditions hold "?", not file patterns
check="$(dirname "$0")/json_lines.py"
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
cp "$2" "$work/"
zelscales=$1
tool=("$zelscales" --library "$work/$(basename "$2")")

# wait_lines FILE N : until FILE has N lines (at most 30 s).
wait_lines() {
  for _ in $(seq 300); do [ "$(wc -l <"$1")" -ge "$2" ] && return 0; sleep 0.1; done
  fail "$1 has $(wc -l <"$1") lines, wanted $2"
}
# wait_end PID : its exit status, in $status, once it ended (at most 20 s).
wait_end() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && { kill -KILL "$1"; fail "still running 20 s after the signal"; }
  status=0
  wait "$1" || status=$?
}

start_sim polled --model 13 --pty --weight 2.5
pty=$address
start_sim silent --model 13 --pty --weight 1 --fault silence
silent=$address
start_sim pushing --model 5 --pty --weight 1.234 --push-every 200
pushing=$address

# Exit statuses: command, expected status, the JSON conditions of its lines
# (- when it prints none).
while IFS='|' read -r args expected conditions; do
  [ -n "$args" ] || continue
  status=0
  # shellcheck disable=SC2086
  "${tool[@]}" $args >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" = "$expected" ] || { cat "$work/err" >&2; fail "zelscales $args: exit $status, wanted $expected"; }
  if [ "$conditions" != - ]; then
    # shellcheck disable=SC2086
    "$check" "$work/out" 1 $conditions >/dev/null || fail "zelscales $args: output"
  fi
  echo "ok: zelscales $args -> $status"
done <<EOT
weigh --model 13 --port $pty --baud 9600 --count 2 --interval 0 --json|0|result=0 weight=2.5 unit="kg" stable=true model=13 price? cost?
weigh --model 13 --port $silent --baud 9600 --attempts 1 --json|1|result=3 error?
weigh --json|0|result=0 weight? stable? price? cost?
price --cents 1250 --attempts 6 --json|0|result=0 price=12.5 cost?
listen --model 5 --port $pushing --count 2 --json|0|result=0 weight=1.234 device? line? source="EventScales" message="NewData"
weigh --model 13 --port /dev/zelscales-no-such-port --json|1|-
weigh --model 13 --json|2|-
weigh --count -1|2|-
weigh --no-such-option|2|-
listen --model 13 --port $pty|2|-
frobnicate|2|-
--library $work/no-such-library.so weigh --json|3|-
--library $work/no-such-library.so version|3|-
EOT
# A usage error and a missing library print nothing on stdout.
"${tool[@]}" --library "$work/none.so" weigh --json >"$work/out" 2>/dev/null || true
[ ! -s "$work/out" ] || fail "stdout not empty after a failed load"

# Until a signal: each signal's exit status is 128 + its number, after the
# device was closed (the Close call shows with --verbose) and the library
# unloaded with no thread of the driver's left, every line printed whole.
# (The emulator fails a reading now and then: its lines are not all result 0.)
# A background command of a script starts with SIGINT ignored; the tool
# catches it all the same.
while IFS='|' read -r signal expected args conditions; do
  [ -n "$signal" ] || continue
  # shellcheck disable=SC2086
  "${tool[@]}" --verbose $args --count 0 --json >"$work/out" 2>"$work/err" </dev/null &
  pid=$!
  wait_lines "$work/out" 3
  kill -"$signal" "$pid"
  wait_end "$pid"
  pid=""
  [ "$status" = "$expected" ] || { tail -5 "$work/err" >&2; fail "$args on SIG$signal: exit $status, wanted $expected"; }
  grep -q '^> Close(' "$work/err" || fail "$args on SIG$signal: the device was not closed"
  grep -qx 'driver threads left: 0' "$work/err" || fail "$args on SIG$signal: $(grep 'threads left' "$work/err")"
  "$check" "$work/out" 3 $conditions >/dev/null || fail "$args on SIG$signal: output"
  echo "ok: $args --count 0 stopped by SIG$signal -> $status, closed"
done <<EOT
INT|130|weigh --model 13 --port $pty --baud 9600 --interval 100|result=0 weight=2.5
TERM|143|weigh --model 13 --port $pty --baud 9600 --interval 100|result=0 weight=2.5
INT|130|weigh --interval 0|model=20
INT|130|listen --model 5 --port $pushing|result=0 weight=1.234 line?
TERM|143|listen --model 5 --port $pushing|result=0 weight=1.234 line?
EOT

# A reader that stops reading (`| head`): the run ends on the closed pipe
# and still closes the device.
set +e
"${tool[@]}" --verbose weigh --model 13 --port "$pty" --baud 9600 --interval 50 --count 0 --json 2>"$work/err" </dev/null |
  head -2 >"$work/out"
status=${PIPESTATUS[0]}
set -e
[ "$status" = 141 ] || fail "closed pipe: exit $status, wanted 141"
grep -q '^> Close(' "$work/err" || fail "closed pipe: the device was not closed"
"$check" "$work/out" 2 weight=2.5 >/dev/null
echo "ok: weigh --count 0 | head -2 -> $status, closed"

# The line is free again: another run opens the same port and weighs.
"${tool[@]}" weigh --model 13 --port "$pty" --baud 9600 --json >"$work/out" || fail "the port stayed taken"
"$check" "$work/out" 1 weight=2.5 >/dev/null
echo "json and interrupt: ok"
