#!/usr/bin/env bash
# `zelscales decode` on the traffic log of a scale that transmits all the
# time: each continuously transmitting polled model simulated showing
# 1.234 kg, weighed through a copy of the library with its traffic log on,
# on a pseudo-terminal (the line opened for each reading) and on TCP with
# the connection kept (the drain logs the frames in between); every frame
# in the log is a reading of 1.234 kg and none is refused.
#   decode_stream.sh ZELSCALES LIBRARY
set -euo pipefail
tool=$1 library=$2
zelscales=$tool
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
cp "$library" "$work/" && touch "$work/log.txt"
lib="$work/$(basename "$library")"
# The polled models that transmit all the time.
echo 18 19 25 29 31 33 34 36 39 | tr ' ' '\n' >"$work/models"
for m in $(cat "$work/models"); do
  for how in pty tcp; do
    rm -f "$work"/log_scales_*.log
    if [ "$how" = pty ]; then
      start_sim "s$m$how" --model "$m" --pty --weight 1.234
      if ! "$tool" --library "$lib" weigh --model "$m" --port "$address" --count 2 >/dev/null 2>"$work/err"; then
        # The pty's number may still be held through a stale path by a
        # process of another test: the open is refused as busy. Which
        # processes hold it goes in the log, and the weighing runs once more.
        grep -q '^zelscales: cannot open' "$work/err" || fail "model $m: weigh"
        echo "note: model $m (pty): $(head -1 "$work/err"); held by: $(holders "$address" | tr '\n' ';')"
        rm -f "$work"/log_scales_*.log
        sleep 1
        "$tool" --library "$lib" weigh --model "$m" --port "$address" --count 2 >/dev/null 2>"$work/err" ||
          fail "model $m: weigh"
      fi
    else
      start_sim "s$m$how" --model "$m" --tcp 0 --weight 1.234
      "$tool" --library "$lib" weigh --model "$m" --host 127.0.0.1 --tcp-port "${address##*:}" --leave --count 3 \
        >/dev/null || fail "model $m: weigh over TCP"
    fi
    kill "${sims[-1]}" 2>/dev/null || true
    out=$("$tool" decode "$(ls "$work"/log_scales_*.log)" --model "$m" | grep '=>' || true)
    readings=$(grep -c "=> model $m: weight 1.234 kg" <<<"$out" || true)
    wanted=2; [ "$how" = pty ] || wanted=3
    [ "$readings" -ge "$wanted" ] || fail "model $m ($how): $readings readings of 1.234 kg: $out"
    ! grep -q 'refuses' <<<"$out" || fail "model $m ($how): a frame refused: $out"
    echo "ok: model $m ($how): $readings frames read"
  done
done
echo "decode_stream: ok"
