#!/usr/bin/env bash
# The documented technician's flow: a simulated scale on a pseudo-terminal,
# weighed by the command-line tool through the built library.
#   simulate_and_weigh.sh ZELSCALES
set -euo pipefail
tool=$1
out=$(mktemp)
"$tool" simulate --model 13 --pty --weight 2.5 --no-stdin >"$out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
path=$(head -1 "$out")
"$tool" weigh --model 13 --port "$path" --baud 9600 --count 2 | tee /dev/stderr | grep -c '^weight 2.500 kg  stable$' | grep -qx 2
# A port that does not exist: result 1 and a failing exit status.
if "$tool" weigh --model 13 --port /dev/zelscales-no-such-port 2>/dev/null; then exit 1; fi
echo "simulate and weigh: ok"
