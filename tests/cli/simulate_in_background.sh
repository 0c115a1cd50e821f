#!/usr/bin/env bash
# The simulator started from a script: standard input at its end, in the
# background. It keeps serving, and ends on SIGTERM.
#   simulate_in_background.sh ZELSCALES
set -euo pipefail
tool=$1
out=$(mktemp)
"$tool" simulate --model 10 --tcp 0 --weight 1.5 </dev/null >"$out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
address=$(head -1 "$out")
sleep 1
kill -0 "$sim"  # still there after its input ended
"$tool" weigh --model 10 --host 127.0.0.1 --tcp-port "${address##*:}" | grep -q '^weight 1500.000 g'
kill -TERM "$sim"
for _ in $(seq 50); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$sim" 2>/dev/null; then echo "simulator did not end on SIGTERM"; exit 1; fi
echo "simulate in the background: ok"
