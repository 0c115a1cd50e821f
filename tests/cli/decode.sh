#!/usr/bin/env bash
# `zelscales decode` on logs the driver wrote: a simulated CAS scale weighed
# through a copy of the library with its traffic log switched on, then the
# log judged by the model it came from and by a model it did not.
#   decode.sh ZELSCALES LIBRARY EXAMPLE_LOG
set -euo pipefail
tool=$1 library=$2 example=$3
dir=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill $sim 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
cp "$library" "$dir/" && touch "$dir/log.txt"
"$tool" simulate --model 13 --pty --weight 2.5 --no-stdin >"$dir/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -s "$dir/sim.out" ] && break; sleep 0.1; done
"$tool" --library "$dir/$(basename "$library")" weigh --model 13 --port "$(head -1 "$dir/sim.out")" --count 2 >/dev/null
log=$(ls "$dir"/log_scales_*.log)

fail() { echo "decode: $*" >&2; exit 1; }
out=$("$tool" decode "$log" --model 13)
[ "$(grep -c '=> model 13: weight 2.5 kg, price 0, cost 0, stable (result 0)' <<<"$out")" = 2 ] || fail "no two readings: $out"
grep -q '^.* sent     05  |.|$' <<<"$out" || fail "request not shown"
grep -q 'received 02 53 20 20 32 2E 35 30 30 20 6B 67 03 04  |.S  2.500 kg..|' <<<"$out" || fail "reply not shown"
out=$("$tool" decode "$log" --model 14)
[ "$(grep -c 'model 14 refuses it: 16 bytes that make no frame' <<<"$out")" = 2 ] || fail "model 14 took it: $out"
json=$("$tool" decode --json "$log" --model 13 | grep '"verdict"' | head -1)
[ "$json" = '{"verdict":"reading","model":13,"bytes":16,"result":0,"weight":2.5,"unit":"kg","price":0,"cost":0,"stable":1}' ] || fail "json: $json"

# The example of the log format: two blocks, as written.
out=$("$tool" decode "$example")
[ "$(wc -l <<<"$out")" = 2 ] || fail "example: $out"
grep -q '^2020-03-05 14:07:09.601  received 77 77 20 30' <<<"$out" || fail "example: $out"

# Bad input: a usage error for a model without a line, and junk read through.
reserved=$("$tool" models --json | python3 -c '
import json, sys
print(next(r["model"] for r in map(json.loads, sys.stdin) if r["kind"] == "reserved"))')
for m in 20 "$reserved" 99 -1 x; do
  rc=0; "$tool" decode "$log" --model "$m" >/dev/null 2>&1 || rc=$?
  [ "$rc" = 2 ] || fail "--model $m exit $rc"
done
head -c 200000 /dev/urandom >"$dir/junk.log"
"$tool" decode "$dir/junk.log" --model 13 >/dev/null 2>&1 || fail "junk log"
echo "decode: ok"
