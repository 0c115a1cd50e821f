#!/usr/bin/env bash
# The command line of every command: a fault in it exits 2 with one line on
# stderr and nothing on stdout, before a library is loaded; --help wins and
# prints the command's usage; the common options go anywhere; a simulator's
# flags leave the option after them alone.
#   command_line.sh ZELSCALES
set -euo pipefail
set -f  # the tables hold no file patterns
zelscales=$1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
# Loading this would fail with 3: a 2 means the line was refused first.
tool=("$zelscales" --library "$work/no-such-library.so")

# arguments | the text of its one stderr line
usage_errors exact <<'EOT'
frobnicate|zelscales: unknown command frobnicate; see `zelscales --help`
--frobnicate weigh|zelscales: unknown option --frobnicate
weigh --frobnicate|zelscales: unknown option --frobnicate
weigh models|zelscales: unexpected argument models
weigh --count|zelscales: --count needs a value
weigh --count x|zelscales: bad value for --count: x
weigh --count -1|zelscales: bad value for --count: -1
weigh --count 0x10|zelscales: bad value for --count: 0x10
weigh --interval 3600001|zelscales: bad value for --interval: 3600001
weigh --attempts 0|zelscales: bad value for --attempts: 0
weigh --model 1e3|zelscales: bad value for --model: 1e3
weigh --baud 99999999999|zelscales: bad value for --baud: 99999999999
price --price 1 --cents 100|zelscales: --price and --cents exclude each other
price|zelscales: price needs --price X or --cents N
price --cents x|zelscales: --cents: wants a whole number of hundredths from -2147483648 to 2147483647, not x
price --cents 12.50|zelscales: --cents: wants a whole number of hundredths from -2147483648 to 2147483647, not 12.50
price --cents 0x10|zelscales: --cents: wants a whole number of hundredths from -2147483648 to 2147483647, not 0x10
price --cents 2147483648|zelscales: --cents: wants a whole number of hundredths from -2147483648 to 2147483647, not 2147483648
price --cents|zelscales: --cents needs a value
listen --model 5 --port /dev/x --cents 1e3|zelscales: --cents: wants a whole number of hundredths from -2147483648 to 2147483647, not 1e3
models --markdown --json|zelscales: --markdown and --json exclude each other
models --model 13|zelscales: unknown option --model
params --port /dev/x|zelscales: unknown option --port
version extra|zelscales: unexpected argument extra
tare --count 2|zelscales: unknown option --count
listen --model 5|zelscales: listen needs --port NAME or --host H
listen --model 13 --port /dev/x|zelscales: model 13 does not send readings by itself; use `zelscales weigh`
listen --interval 5 --port /dev/x|zelscales: unknown option --interval
listen --count x --port /dev/x|zelscales: bad value for --count: x
detect|zelscales: detect needs --port NAME or --host H
detect --port /dev/a --host 127.0.0.1|zelscales: detect needs --port NAME or --host H
detect --port /dev/a --bauds 96x0|zelscales: bad --bauds 96x0: wants speeds of 1200,2400,4800,9600,19200,38400,56000,57600,115200,256000 (e.g. 9600,4800)
detect --host 127.0.0.1 --tcp-port 70000|zelscales: bad --tcp-port 70000: wants 1 to 65535
detect --port /dev/a --model 13|zelscales: unknown option --model
ports --json extra|zelscales: unexpected argument extra
ports --root|zelscales: --root needs a value
decode|zelscales: decode needs a traffic log: zelscales decode LOG [--model N] [--json]
decode a.log b.log|zelscales: decode reads one log file only
decode a.log --model 20|zelscales: decode --model takes the number of a model with a line (see `zelscales models`)
decode a.log --model 13x|zelscales: decode --model takes the number of a model with a line (see `zelscales models`)
help frobnicate|zelscales: unknown command frobnicate; see `zelscales --help`
EOT

# Usage faults with a library that would load fine: still 2, nothing opened.
"$zelscales" weigh --count x >/dev/null 2>&1 && fail "weigh --count x ran"
[ "$("$zelscales" weigh --count x 2>&1 >/dev/null; echo "rc=$?")" = "$(printf 'zelscales: bad value for --count: x\nrc=2')" ] ||
  fail "weigh --count x with the real library"

# --help (or -h) wins over the rest of the line: the usage on stdout, exit 0.
# arguments | the first line of the usage
while IFS='|' read -r args wanted; do
  [ -n "$args" ] || continue
  status=0
  # shellcheck disable=SC2086
  "${tool[@]}" $args >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" = 0 ] || { cat "$work/err" >&2; fail "zelscales $args: exit $status"; }
  [ "$(head -1 "$work/out")" = "$wanted" ] || fail "zelscales $args: '$(head -1 "$work/out")'"
  [ ! -s "$work/err" ] || fail "zelscales $args: wrote on stderr"
  echo "ok: zelscales $args"
done <<'EOT'
--help|usage: zelscales [--library PATH] [--verbose] [--trace] COMMAND [options]
-h|usage: zelscales [--library PATH] [--verbose] [--trace] COMMAND [options]
help|usage: zelscales [--library PATH] [--verbose] [--trace] COMMAND [options]
weigh -h|usage: zelscales weigh [scale options] [--count N] [--interval MS] [--attempts N] [--json] [--trace]
weigh --count x --help|usage: zelscales weigh [scale options] [--count N] [--interval MS] [--attempts N] [--json] [--trace]
weigh --frobnicate --help|usage: zelscales weigh [scale options] [--count N] [--interval MS] [--attempts N] [--json] [--trace]
--verbose price --help|usage: zelscales price (--price X | --cents N) [scale options] [--count N] [--json] [--trace]
help price|usage: zelscales price (--price X | --cents N) [scale options] [--count N] [--json] [--trace]
help listen|usage: zelscales listen [--model M] (--port NAME [--baud B] | --host H [--tcp-port P])
decode --help|usage: zelscales decode LOG [--model N] [--json]
detect --bauds x --help|usage: zelscales detect (--port NAME | --host H [--tcp-port P]) [--bauds B,B,...] [--json] [--verbose]
EOT
# A scale command's usage ends with the scale options.
"$zelscales" tare --help | tail -2 | head -1 | grep -qx 'scale options:' || fail "tare --help: no scale options"
[ "$("$zelscales" help test)" = "$("$zelscales" test --help)" ] || fail "help test differs from test --help"

# The common options before or after the command, --verbose also as -v;
# --trace on the six commands that take it. Accepted: the missing library (3).
while IFS='|' read -r args; do
  [ -n "$args" ] || continue
  status=0
  # shellcheck disable=SC2086
  "$zelscales" $args >/dev/null 2>"$work/err" </dev/null || status=$?
  [ "$status" = 3 ] || { cat "$work/err" >&2; fail "zelscales $args: exit $status, wanted 3"; }
  echo "ok: zelscales $args accepted"
done <<EOT
--library $work/none.so --verbose weigh
weigh --library $work/none.so -v
-v tare --library=$work/none.so --json
weigh --count 2 --count 3 --library $work/none.so
weigh --trace --library $work/none.so
price --cents 100 --trace --library $work/none.so
tare --trace --library $work/none.so
test --trace --library $work/none.so
listen --model 5 --port /dev/zelscales-none --trace --library $work/none.so
EOT
rc=0; "$zelscales" detect --port /dev/zelscales-none --trace --bauds 9600 >/dev/null 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "detect --trace: exit $rc, wanted 1 (the port does not open)"
for command in models params version ports; do
  rc=0; "$zelscales" "$command" --trace >/dev/null 2>&1 || rc=$?
  [ "$rc" = 2 ] || fail "$command --trace: exit $rc, wanted 2"
done
echo "ok: --trace where it belongs"

# --cents is decimal whatever its leading zeros (never octal or hex), the
# last one given counting: what the emulator is sent.
while IFS='|' read -r args wanted; do
  [ -n "$args" ] || continue
  # shellcheck disable=SC2086
  got=$("$zelscales" price $args 2>/dev/null | head -1)
  [ "$got" = "$wanted" ] || fail "price $args: '$got', wanted '$wanted'"
  echo "ok: price $args: $got"
done <<'EOT'
--cents 0100|price 1.00 sent
--cents 1250|price 12.50 sent
--cents +7|price 0.07 sent
--cents 100 --cents 250|price 2.50 sent
EOT

# The simulator's flags take no value: the option after each still counts.
# flag | what weighing it prints
if "$zelscales" --help | grep -q '^  simulate'; then
  while IFS='|' read -r flag wanted; do
    [ -n "$flag" ] || continue
    rm -f "$work/sim"  # the last run's path must not be read before this one writes
    "$zelscales" simulate --model 13 --pty "$flag" --weight 2.5 --no-stdin >"$work/sim" 2>&1 </dev/null &
    sim=$!
    for _ in $(seq 100); do [ -s "$work/sim" ] && break; sleep 0.1; done
    port=$(head -1 "$work/sim")
    [ -n "$port" ] || fail "simulate $flag did not start: $(cat "$work/sim")"
    got=$("$zelscales" weigh --model 13 --port "$port" --baud 9600 --attempts 1 2>&1 || true)
    [ "$got" = "$wanted" ] || fail "simulate $flag --weight 2.5: weighed '$got', wanted '$wanted'"
    kill "$sim"; wait "$sim" 2>/dev/null || true
    sim=""
    echo "ok: simulate $flag --weight 2.5: $got"
  done <<'EOT'
--ack-first-byte|weight 2.500 kg  stable
--unstable|weight 2.500 kg  unstable
--negative|weight -2.500 kg  stable
--close-after-reply|weight 2.500 kg  stable
--pty|weight 2.500 kg  stable
EOT
  # --no-stdin after a flag: a q on standard input does not stop it.
  echo q | "$zelscales" simulate --model 13 --pty --ack-first-byte --no-stdin >"$work/sim" 2>&1 &
  sim=$!
  sleep 1
  kill -0 "$sim" 2>/dev/null || fail "simulate --ack-first-byte --no-stdin stopped on q"
  kill "$sim"; wait "$sim" 2>/dev/null || true
  sim=""
  echo "ok: simulate --ack-first-byte --no-stdin"
  # arguments | the one line it is refused with
  while IFS='|' read -r args wanted; do
    [ -n "$args" ] || continue
    status=0
    # shellcheck disable=SC2086
    "$zelscales" simulate $args >"$work/out" 2>"$work/err" </dev/null || status=$?
    [ "$status" = 2 ] && [ "$(cat "$work/err")" = "$wanted" ] && [ ! -s "$work/out" ] ||
      fail "simulate $args: exit $status, '$(cat "$work/err")'"
    echo "ok: simulate $args -> 2: $wanted"
  done <<'EOT'
--pty|zelscales: simulate needs --model N and one of --pty or --tcp PORT
--model 13 --pty --tcp 0|zelscales: simulate needs --model N and one of --pty or --tcp PORT
--model 999 --pty|zelscales: no simulated model 999; see `zelscales simulate --help`
--model 13 --pty --weight x|zelscales: bad value for --weight: x
--model 13 --pty --decimals 5|zelscales: bad value for --decimals: 5
--model 13 --pty --fault slow|zelscales: bad value for --fault: slow
--model 13 --pty --link|zelscales: --link needs a value
--model 13 --pty --frobnicate|zelscales: unknown option --frobnicate
EOT
fi
echo "command line: ok"
