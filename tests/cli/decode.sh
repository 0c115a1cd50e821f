#!/usr/bin/env bash
# `zelscales decode` on logs the driver wrote: a simulated CAS scale weighed
# through a copy of the library with its traffic log switched on, then the
# log judged by the model it came from and by a model it did not.
#   decode.sh ZELSCALES LIBRARY EXAMPLE_LOG
set -euo pipefail
tool=$1 library=$2 example=$3
zelscales=$tool
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
cp "$library" "$work/" && touch "$work/log.txt"
start_sim cas --model 13 --pty --weight 2.5
"$tool" --library "$work/$(basename "$library")" weigh --model 13 --port "$address" --count 2 >/dev/null
log=$(ls "$work"/log_scales_*.log)

out=$("$tool" decode "$log" --model 13)
[ "$(grep -c '=> model 13: weight 2.5 kg, price 0, cost 0, stable (result 0)' <<<"$out")" = 2 ] || fail "no two readings: $out"
grep -q '^.* sent     05  |.|$' <<<"$out" || fail "request not shown"
grep -q 'received 02 53 20 20 32 2E 35 30 30 6B 67 76 03 04  |.S  2.500kgv..|' <<<"$out" || fail "reply not shown"
out=$("$tool" decode "$log" --model 14)
[ "$(grep -c 'model 14 refuses it: 16 bytes that make no frame' <<<"$out")" = 2 ] || fail "model 14 took it: $out"
json=$("$tool" decode --json "$log" --model 13 | grep '"verdict"' | head -1)
[ "$json" = '{"verdict":"reading","model":13,"bytes":16,"result":0,"weight":2.5,"unit":"kg","price":0,"cost":0,"stable":1}' ] || fail "json: $json"

# Scales that push readings, every event-driven model of the table: a listen
# log of each, its bytes handed over at a serial line's pace (a frame comes
# in several reads, logged as several blocks), judged by its model takes
# every press, and says nothing is refused; the pushing model before it in
# the table takes none of them.
mapfile -t pushers < <("$tool" models --json | python3 -c '
import json, sys
print("\n".join(str(r["model"]) for r in map(json.loads, sys.stdin) if r["kind"] == "event-driven"))')
[ "${#pushers[@]}" -ge 5 ] || fail "pushing models: ${pushers[*]}"
for i in "${!pushers[@]}"; do
  m=${pushers[$i]} other=${pushers[$(((i + ${#pushers[@]} - 1) % ${#pushers[@]}))]}
  mkdir -p "$work/listen$m" && cp "$library" "$work/listen$m/" && touch "$work/listen$m/log.txt"
  start_sim "push$m" --model "$m" --tcp 0 --weight 1.234 --push-every 300 --pace 9600
  "$tool" --library "$work/listen$m/$(basename "$library")" listen --model "$m" --host "${address%:*}" \
    --tcp-port "${address##*:}" --count 3 >"$work/events$m"
  log=$(ls "$work/listen$m"/log_scales_*.log)
  out=$("$tool" decode "$log" --model "$m")
  taken=$(grep -c "=> model $m: weight " <<<"$out") || true
  [ "$taken" -ge "$(wc -l <"$work/events$m")" ] && [ "$taken" -ge 3 ] || fail "model $m: $taken presses taken: $out"
  grep -q 'refuses' <<<"$out" && fail "model $m: $out"
  out=$("$tool" decode "$log" --model "$other")
  # Refused, or not even begun (a model that hunts its first byte in vain).
  grep -q "=> model $other: weight" <<<"$out" && fail "model $other took a press of model $m: $out"
done

# The example of the log format: two blocks, as written.
out=$("$tool" decode "$example")
# The open was logged at the port's defaults; the settings of the data block follow.
[ "$(wc -l <<<"$out")" = 3 ] || fail "example: $out"
grep -qx '2020-03-05 14:07:09.601  settings 9600 8N1 (the open above was logged at the port.s defaults, before the switch)' <<<"$out" ||
  fail "example: no settings line: $out"
grep -q '^2020-03-05 14:07:09.601  received 77 77 20 30' <<<"$out" || fail "example: $out"

# Bad input: a usage error for a model without a line, and junk read through.
model_table
for m in 20 "$first_reserved" 99 -1 x; do
  rc=0; "$tool" decode "$log" --model "$m" >/dev/null 2>&1 || rc=$?
  [ "$rc" = 2 ] || fail "--model $m exit $rc"
done
head -c 200000 /dev/urandom >"$work/junk.log"
# A file that is not a traffic log: one error, exit 1.
rc=0; "$tool" decode "$work/junk.log" --model 13 >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q 'is not a traffic log' "$work/err" || fail "junk log: exit $rc"
echo "decode: ok"
