#!/usr/bin/env bash
# The models reference's "stable flag" is what the driver does: each polled
# model the simulator plays is weighed settled and unsettled, and the
# driver's own stable out-parameter (--verbose shows it) must follow the
# scale exactly where the model table says the format reports it.
#   stable_flag.sh ZELSCALES LIBRARY
set -euo pipefail
zelscales=$1 library=$2
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin

"$zelscales" models --json >"$work/models"
# The driver's stable out-parameter of one reading: "0", "1" or "" (no
# reading in two calls: a weighing that found no answer on a loaded machine
# is asked once more).
stable_of() {
  local call stable
  for call in 1 2; do
    stable=$("$zelscales" --library "$library" -v weigh --model "$1" --port "$2" --baud 9600 2>&1 >/dev/null |
      sed -n 's/^> GetWeightPriceCost(.*) -> ok, ret BOOL true, .*\[4\] I4 \([01]\)$/\1/p' | tail -1) || true
    [ -z "$stable" ] || break
  done
  echo "$stable"
}
# One model, settled and moving, in a subshell of its own: its simulators
# end with it, its verdict is its exit status and its last line.
check_model() {
  local model=$1 settled moving reports flag
  sims=()
  trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done' EXIT
  start_sim "settled$model" --model "$model" --pty --weight 1.5
  settled=$(stable_of "$model" "$address")
  start_sim "moving$model" --model "$model" --pty --weight 1.5 --unstable
  moving=$(stable_of "$model" "$address")
  [ -n "$settled" ] && [ -n "$moving" ] || fail "model $model: no reading (settled '$settled', moving '$moving')"
  reports=false
  [ "$settled" = 1 ] && [ "$moving" = 0 ] && reports=true
  flag=$(python3 -c '
import json, sys
rows = {r["model"]: r for r in map(json.loads, open(sys.argv[1]))}
print("true" if rows[int(sys.argv[2])]["stableFlag"] else "false")' "$work/models" "$model")
  [ "$flag" = "$reports" ] ||
    fail "model $model: the table's stable flag is $flag, the driver's stable is $settled settled and $moving moving"
  echo "ok: model $model: stable flag $flag (settled $settled, moving $moving)"
}

# Four models at a time: each mostly waits on its lines.
models=()
while read -r model kind; do
  case $kind in polled,|streams,) models+=("$model") ;; esac
done < <("$zelscales" simulate --help | sed -n '/^models:/,$p' | tail -n +2 | awk '{print $1, $(NF-1)}')
running=()
failed=0
report() {  # waits for the oldest running check and prints what it said
  local model=${running[0]%%:*} p=${running[0]#*:}
  wait "$p" || failed=1
  cat "$work/check$model"
  running=("${running[@]:1}")
}
for model in "${models[@]}"; do
  [ "${#running[@]}" -lt 4 ] || report
  (check_model "$model") >"$work/check$model" 2>&1 &
  running+=("$model:$!")
done
while [ "${#running[@]}" -gt 0 ]; do report; done
[ "$failed" = 0 ] || fail "the stable flag differs from the driver's (above)"
checked=${#models[@]}
[ "$checked" -ge 20 ] || fail "only $checked models checked"
echo "stable flag: ok ($checked models)"
