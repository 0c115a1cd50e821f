#!/usr/bin/env bash
# The command line is checked before anything is opened: a bad value exits 2
# with one line on stderr, before the library is loaded (a missing library
# would exit 3, and --verbose would name it) or a line opened. Every command
# takes --help; tare, models and params print JSON lines; tare on a scale that
# does not answer its tare says so, against the simulator.
#   checked_input.sh ZELSCALES
set -euo pipefail
set -f  # the table holds no file patterns
zelscales=$1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
# Loading this would fail with 3: a 2 means the check came first.
tool=("$zelscales" --verbose --library "$work/no-such-library.so")

# The table's size and its placeholders, from the tool's own model list:
# COUNT, FIRST and LAST (placeholders) in the tables below stand for them.
model_table
table() { sed -e "s/COUNT/$model_count/g; s/FIRST/$first_reserved/g; s/LAST/$last_reserved/g"; }

# arguments | the text its one stderr line holds
table <<'EOT' | usage_errors holds
weigh --coeff abc|bad --coeff abc
weigh --coeff 0|bad --coeff 0:
weigh --coeff 0.0|bad --coeff 0.0:
weigh --coeff 1x|bad --coeff 1x
weigh --coeff inf|bad --coeff inf
weigh --coeff 1e999|bad --coeff 1e999
weigh --coeff -2|bad --coeff -2
weigh --coeff 1e3|bad --coeff 1e3
weigh --model 13 --port /dev/nonexistent --coeff abc|bad --coeff abc
tare --model 13 --port /dev/nonexistent --coeff 0|bad --coeff 0
price --cents 100 --coeff x|bad --coeff x
weigh --baud 1234|one of 1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200, 256000
weigh --model 13 --port /dev/nonexistent --baud 0|bad --baud 0
weigh --model 13 --port /dev/nonexistent --baud 300|bad --baud 300
weigh --model 13 --host 127.0.0.1 --tcp-port 99999|bad --tcp-port 99999: wants 1 to 65535
weigh --model 13 --host 127.0.0.1 --tcp-port 0|bad --tcp-port 0
weigh --model 13 --host 127.0.0.1 --tcp-port 65536|bad --tcp-port 65536
weigh --model 13 --port /dev/nonexistent --host 127.0.0.1|--port and --host exclude each other
weigh --model COUNT|no model COUNT; see `zelscales models`
weigh --model -1|no model -1; see `zelscales models`
tare --model FIRST --port /dev/nonexistent|model FIRST is reserved
weigh --model LAST --port /dev/nonexistent|see `zelscales models`
test --model LAST|model LAST is reserved
listen --model 5 --port /dev/nonexistent --baud 7|bad --baud 7
listen --model 5 --port /dev/nonexistent --coeff 0|bad --coeff 0
listen --model 5 --port /dev/nonexistent --host 127.0.0.1|--port and --host exclude each other
EOT

# Good values still get through to the library: here the missing one (3).
while IFS='|' read -r args; do
  [ -n "$args" ] || continue
  status=0
  # shellcheck disable=SC2086
  "${tool[@]}" $args >/dev/null 2>&1 </dev/null || status=$?
  [ "$status" = 3 ] || fail "zelscales $args: exit $status, wanted 3 (accepted, library missing)"
  echo "ok: zelscales $args accepted"
done <<'EOT'
weigh --coeff 0.001
weigh --coeff 0,001
weigh --coeff 2
weigh --coeff ,5
weigh --baud 1200
weigh --baud 256000
weigh --model 41 --host 127.0.0.1 --tcp-port 1
weigh --model 41 --host 127.0.0.1 --tcp-port 65535
weigh --model 0 --port /dev/nonexistent
EOT

# --help on every command: its usage on stdout, exit 0, nothing opened.
for command in weigh price tare test params models version listen detect ports help; do
  status=0
  "${tool[@]}" "$command" --help >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" = 0 ] || fail "zelscales $command --help: exit $status"
  grep -q 'usage' "$work/out" || fail "zelscales $command --help: no usage on stdout"
  echo "ok: zelscales $command --help"
done

# The simulator (where it is built) parses its own options.
if "$zelscales" --help | grep -q '^  simulate'; then
  "$zelscales" simulate --help >"$work/out" 2>/dev/null || fail "zelscales simulate --help: exit $?"
  grep -q usage "$work/out" || fail "zelscales simulate --help: no usage on stdout"
  echo "ok: zelscales simulate --help"
fi

# --json: valid JSON lines, the expected number of them.
valid='import json,sys; print(len([json.loads(l) for l in sys.stdin]))'
# The emulator fails one reading in ten on purpose, so `test` may exit 1
# (passed false); its line must still be JSON.
while IFS='|' read -r args lines codes; do
  [ -n "$args" ] || continue
  rc=0
  # shellcheck disable=SC2086
  "$zelscales" $args >"$work/out" 2>"$work/err" </dev/null || rc=$?
  case " ${codes:-0} " in
    *" $rc "*) ;;
    *) cat "$work/err" >&2; fail "zelscales $args: exit $rc" ;;
  esac
  got=$(python3 -c "$valid" <"$work/out") || fail "zelscales $args: not JSON lines"
  [ "$got" = "$lines" ] || fail "zelscales $args: $got lines, wanted $lines"
  echo "ok: zelscales $args: $got JSON lines"
done < <(table <<'EOT'
tare --json|1
models --json|COUNT
params --json|8
version --json|1
test --json|1|0 1
EOT
)
"$zelscales" models --json | python3 -c '
import json, sys
rows = {r["model"]: r for r in map(json.loads, sys.stdin)}
want = {0: ("unconfirmed", None, "unconfirmed"), 5: (None, None, "not sent"), 6: (None, None, "not sent"),
        20: ("confirmed", None, "confirmed"), 40: ("confirmed", None, None),
        41: ("confirmed", None, None), int(sys.argv[1]): (None, None, None)}
for model, (tare, zero, price) in want.items():
    got = (rows[model]["tare"], rows[model]["zero"], rows[model]["price"])
    assert got == (tare, zero, price), (model, got)
' "$first_reserved" || fail "models --json: tare, zero, price of the table"
"$zelscales" params --json | grep -q '"name":"cbaudrate"' || fail "params --json: no cbaudrate"
"$zelscales" tare --json | grep -q '"delivery":"confirmed"' || fail "tare --json on the emulator"

# What a command did, against simulated scales: model 3 takes a tare and
# sends nothing back; model 41's reply confirms it.
out="$work/sim"
# (Removed first: the background redirect may empty it only after the wait
# below has looked.)
rm -f "$out"
"$zelscales" simulate --model 3 --pty --weight 1.5 --no-stdin >"$out" 2>&1 </dev/null &
sim=$!
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
port=$(head -1 "$out")
[ -n "$port" ] || fail "simulator did not start"
"$zelscales" tare --model 3 --port "$port" >"$work/out" 2>"$work/err" || { cat "$work/err" >&2; fail "tare on model 3"; }
[ "$(cat "$work/out")" = "sent (this scale does not confirm)" ] || fail "tare on model 3: '$(cat "$work/out")'"
echo "ok: tare on model 3: $(cat "$work/out")"
kill "$sim"; wait "$sim" 2>/dev/null || true

rm -f "$out"
"$zelscales" simulate --model 41 --pty --weight 1.5 --no-stdin >"$out" 2>&1 </dev/null &
sim=$!
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
port=$(head -1 "$out")
"$zelscales" tare --model 41 --port "$port" >"$work/out" 2>"$work/err" || { cat "$work/err" >&2; fail "tare on model 41"; }
[ "$(cat "$work/out")" = "tare done" ] || fail "tare on model 41: '$(cat "$work/out")'"
echo "ok: tare on model 41: tare done"
# Grams without a coefficient: one hint on stderr; with one, none.
"$zelscales" weigh --model 41 --port "$port" >/dev/null 2>"$work/err" || true
grep -qx 'hint: model 41 delivers grams; --coeff 0.001 gives kilograms' "$work/err" || fail "no grams hint: $(cat "$work/err")"
"$zelscales" weigh --model 41 --port "$port" --coeff 0.001 >/dev/null 2>"$work/err" || true
! grep -q hint "$work/err" || fail "a hint although --coeff was given"
echo "ok: grams hint"
kill "$sim"; wait "$sim" 2>/dev/null || true
sim=""

# model | what `price --cents 1250` says first: model 5 takes the call and
# sends no price; model 21 writes it and gets no reply.
while IFS='|' read -r model wanted; do
  [ -n "$model" ] || continue
  rm -f "$out"
  "$zelscales" simulate --model "$model" --pty --weight 1.5 --no-stdin >"$out" 2>&1 </dev/null &
  sim=$!
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
  port=$(head -1 "$out")
  "$zelscales" price --cents 1250 --model "$model" --port "$port" --baud 9600 >"$work/out" 2>"$work/err" ||
    { cat "$work/err" >&2; fail "price on model $model"; }
  [ "$(head -1 "$work/out")" = "$wanted" ] || fail "price on model $model: '$(head -1 "$work/out")'"
  echo "ok: price on model $model: $wanted"
  kill "$sim"; wait "$sim" 2>/dev/null || true
  sim=""
done <<'EOT'
5|price 12.50 not sent: this scale takes no price
21|price 12.50 sent (this scale does not confirm)
EOT
echo "checked input: ok"
