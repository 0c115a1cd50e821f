#!/usr/bin/env bash
# `zelscales monitor` against simulated scales: the bytes shown as they pass,
# --send reaching the scale (once and --every), frames judged live by a
# model (a reading, and a refusal by a model of another protocol), --json
# lines, the ends (--count, --for, a signal) and bad command lines.
#   monitor.sh ZELSCALES
set -euo pipefail
set -f  # the JSON conditions hold "?", not file patterns
zelscales=$1
tool=("$zelscales")
check="$(dirname "$0")/json_lines.py"
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin

model_table
start_sim cas --model 13 --pty --weight 2.5
cas=$address
start_sim axis --model 9 --pty --weight 0.75
axis=$address
start_sim stream --model 34 --pty --weight 1.25 --gap 0
stream=$address
start_sim pushing --model 5 --pty --weight 1.234 --push-every 200
pushing=$address
start_sim massa --model 10 --tcp 0 --weight 1.5
massa=${address##*:}
# A scale that answers nothing: what is written to it leaves no reply
# behind for the next run to read.
start_sim sink --model 13 --pty --fault silence
sink=$address

# run ARGS... : the monitor's stdout in $out, exit status in $status.
run() {
  status=0
  out=$(timeout 60 "${tool[@]}" monitor "$@" 2>"$work/err" </dev/null) || status=$?
}

# The raw bytes, no model: both requests of the CAS read and its reply, each
# with its time and gap, in hex and as text.
run --port "$cas" --send 05 --send 11 --for 800
[ "$status" = 0 ] || fail "raw: exit $status"
grep -qE '^ +[0-9] ms \+[0-9] +sent  05 {46} \|\.\|$' <<<"$out" || fail "first request not shown: $out"
grep -qE '^ +[0-9]+ ms \+(1[4-9][0-9]|[23][0-9][0-9]) +sent  11 ' <<<"$out" || fail "second request not 150 ms later: $out"
grep -qE '^ +[0-9]+ ms \+[0-9]+ +recv  06 01 02 53 20 20 32 2E 35 30 30 6B 67 76 03 04  \|\.\.\.S  2\.500kgv\.\.\|$' \
  <<<"$out" || fail "reply not shown: $out"
grep -q '<- request: 05 11' "$work/cas.sim" || fail "the scale did not get the request"
echo "ok: raw bytes and --send"

# --send's syntax: hex bytes, else text with C escapes. VALUE|the bytes written
while IFS='|' read -r value wanted; do
  [ -n "$value" ] || continue
  run --port "$sink" --send "$value" --for 1
  sent=$(sed -n 's/^ *[0-9]* ms +[0-9]* *sent  \(.*[0-9A-F]\) *|.*|$/\1/p' <<<"$out")
  [ "$sent" = "$wanted" ] || fail "--send '$value': wrote '$sent', wanted '$wanted'"
done <<'EOT'
05|05
02 05 03|02 05 03
0511 0D|05 11 0D
E|45
SI\r\n|53 49 0D 0A
\x301|30 31
a\tb\\\0|61 09 62 5C 00
05 1|30 35 20 31
EOT
echo "ok: --send syntax"

# Frames judged live: the model's reading, or why another model refuses
# the frame; text with C escapes; a scale on TCP; a continuous one; one
# that pushes readings. ARGUMENTS|STATUS|a line the output holds
while IFS='|' read -r args expected wanted; do
  [ -n "$args" ] || continue
  # shellcheck disable=SC2086
  run $args
  [ "$status" = "$expected" ] || fail "monitor $args: exit $status, wanted $expected: $out"
  grep -qxF -- "$wanted" <<<"$out" || fail "monitor $args: no '$wanted' in: $out"
  echo "ok: monitor $args -> $status"
done <<EOT
--port $cas --send 05 --send 11 --model 13 --count 1|0|  => model 13: weight 2.500 kg  stable
--port $cas --send 05 --send 11 --model 14 --count 1|1|  => model 14 refuses 16 bytes: wrong first byte
--port $cas --send 05 --model 13 --for 600|1|  => model 13: no reply
--port $axis --send SI\r\n --model 9 --count 1|0|  => model 9: weight 750.000 g
--host 127.0.0.1 --tcp-port $massa --send 45 --model 10 --count 1|0|  => model 10: weight 1500.000 g
--port $stream --model 34 --count 3|0|  => model 34: weight 1.250 kg
--port $pushing --model 5 --count 2|0|  => model 5: weight 1.234 kg
--port $pushing --model 6 --count 1|1|  => model 6 refuses 7 bytes: no frame of this model
EOT

# --count ends on the frame asked for, even when one read brings many.
run --port "$stream" --model 34 --count 3
[ "$(grep -c '=> model 34' <<<"$out")" = 3 ] || fail "--count 3: $out"
run --port "$stream" --count 5
[ "$(grep -c ' recv ' <<<"$out")" = 5 ] || fail "--count 5 chunks: $out"
# Rows of 16 bytes at most: 12-byte frames back to back run over rows.
grep -qE 'recv  ([0-9A-F]{2} ){15}[0-9A-F]{2}  \|.{16}\|$' <<<"$out" ||
  fail "no full row of 16: $out"

# --every: the request again and again, each answered.
run --port "$cas" --send "05" --send 11 --every 300 --model 13 --for 1400
[ "$(grep -c ' sent  05 ' <<<"$out")" -ge 3 ] || fail "--every 300: $out"
[ "$(grep -c '=> model 13: weight 2.500 kg' <<<"$out")" -ge 3 ] || fail "--every 300 readings: $out"

# JSON: every line an object with time and result; chunks and verdicts.
"${tool[@]}" monitor --port "$cas" --send "05" --send 11 --model 13 --count 1 --json >"$work/json" 2>"$work/err"
"$check" "$work/json" 4 >/dev/null || fail "json lines: $(cat "$work/json")"
grep '"direction":"recv"' "$work/json" >"$work/chunk"
"$check" "$work/chunk" 1 ms? gapMs? bytes=16 hex='"06 01 02 53 20 20 32 2E 35 30 30 6B 67 76 03 04"' \
  text='"...S  2.500kgv.."' >/dev/null || fail "json chunk: $(cat "$work/chunk")"
grep '"verdict"' "$work/json" >"$work/verdict"
"$check" "$work/verdict" 1 result=0 verdict='"reading"' model=13 weight=2.5 unit='"kg"' stable=true >/dev/null ||
  fail "json verdict: $(cat "$work/verdict")"
status=0
"${tool[@]}" monitor --port "$cas" --send "05 11" --model 14 --count 1 --json >"$work/json" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "json refusal: exit $status"
grep '"verdict"' "$work/json" >"$work/verdict"
"$check" "$work/verdict" 1 result=3 verdict='"refused"' why='"wrong first byte"' >/dev/null ||
  fail "json refusal: $(cat "$work/verdict")"
echo "ok: --json"

# --trace: the open, the bytes and the close on stderr; stdout unchanged.
run --port "$cas" --send 05 --send 11 --for 500 --trace
grep -q ' open     COMPORT: ' "$work/err" && grep -q ' sent     05  |.|' "$work/err" && grep -q ' close' "$work/err" ||
  fail "--trace: $(cat "$work/err")"
grep -q ' recv  06 01 ' <<<"$out" || fail "--trace stdout: $out"
echo "ok: --trace"

# Without an end it runs until a signal, then exits 128 + its number.
for signal in INT TERM; do
  rm -f "$work/$signal.out"
  "${tool[@]}" monitor --port "$pushing" >"$work/$signal.out" 2>"$work/err" </dev/null &
  pid=$!
  for _ in $(seq 100); do grep -q ' recv ' "$work/$signal.out" 2>/dev/null && break; sleep 0.1; done
  kill -"$signal" "$pid"
  status=0; wait "$pid" || status=$?; pid=""
  want=130; [ "$signal" = TERM ] && want=143
  [ "$status" = "$want" ] || fail "SIG$signal: exit $status"
done
echo "ok: ended by SIGINT and SIGTERM"

# A line that does not open, and one lost under the monitor.
run --port /dev/zelscales-no-such-port
[ "$status" = 1 ] && grep -q 'no such port' "$work/err" || fail "no such port: $status $(cat "$work/err")"
start_sim gone --model 10 --tcp 0
gone=$address
# (A file of its own, removed first: the background redirect may empty an
# old one late.)
rm -f "$work/lost.out"
"${tool[@]}" monitor --host 127.0.0.1 --tcp-port "${gone##*:}" --send 45 >"$work/lost.out" 2>"$work/err" </dev/null &
pid=$!
for _ in $(seq 100); do grep -q ' recv ' "$work/lost.out" 2>/dev/null && break; sleep 0.1; done
kill -KILL "${sims[-1]}"
status=0
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || status=$?; pid=""
[ "$status" = 1 ] && grep -q 'was lost' "$work/err" || fail "lost line: exit $status $(cat "$work/err")"
echo "ok: a line that fails"

usage_errors exact <<EOT
monitor|zelscales: monitor needs --port NAME or --host H
monitor --port $cas --host 127.0.0.1|zelscales: --port and --host exclude each other
monitor --port $cas --framing 9N1|zelscales: bad --framing 9N1 (e.g. 8N1, 7E1, 8E2: data bits, parity N E O M S, stop bits)
monitor --port $cas --framing 8X1|zelscales: bad --framing 8X1 (e.g. 8N1, 7E1, 8E2: data bits, parity N E O M S, stop bits)
monitor --port $cas --send \q|zelscales: bad --send \q (hex bytes such as "02 05 03", or text such as "W\r\n")
monitor --port $cas --send \x4|zelscales: bad --send \x4 (hex bytes such as "02 05 03", or text such as "W\r\n")
monitor --port $cas --send|zelscales: --send needs a value
monitor --port $cas --every 100|zelscales: --every needs --send
monitor --port $cas --model 20|zelscales: monitor --model takes the number of a model with a line (see \`zelscales models\`)
monitor --port $cas --model $last_reserved|zelscales: monitor --model takes the number of a model with a line (see \`zelscales models\`)
monitor --port $cas --count 0|zelscales: bad value for --count: 0
monitor --port $cas --baud 10|zelscales: bad value for --baud: 10
monitor --host 127.0.0.1 --tcp-port 0|zelscales: bad --tcp-port 0: wants 1 to 65535
monitor --port $cas --weight 1|zelscales: unknown option --weight
EOT
echo "monitor: ok"
