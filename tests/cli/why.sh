#!/usr/bin/env bash
# The tool says why: a line that does not open (no such port, not a serial
# port, busy, permission denied, connection refused), a reading that got
# nothing, only an echo, or bytes that made no frame, and a listened line
# that cannot be opened, is lost and is back. The tool's line comes first,
# the driver's own text on the next.
#   why.sh ZELSCALES LIBRARY
set -euo pipefail
zelscales=$1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
chmod 755 "$work"
cp "$2" "$work/"
library="$work/$(basename "$2")"
tool=("$zelscales" --library "$library")

text1='result 1: Ошибка_1: Не возможно установить соединение. Убедитесь в правильности имени СОМ порта, возможно, он занят другим приложением.'
text3='result 3: Ошибка_3: Нет ответа от весов.'

# wait_for FILE TEXT : until FILE holds TEXT (at most 20 s).
wait_for() {
  for _ in $(seq 200); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "$1 never held '$2': $(cat "$1")"
}

# --- opens that fail: "zelscales: " and the reason, then the driver's text ---
touch "$work/plain"
start_sim held --model 13 --pty
held=$(readlink -f "$address")
# A port that refuses: bound (so no other program takes it meanwhile), never
# listened on, held for the test's whole run.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1], flush=True); time.sleep(3600)' \
  >"$work/refusing" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/refusing" ] && break; sleep 0.1; done
free_port=$(head -1 "$work/refusing")
[ -n "$free_port" ] || fail "no refusing port"
# name | first line holds | and also
cases=(
  "$work/missing|cannot open $work/missing: no such port|zelscales ports"
  "$work/plain|cannot open $work/plain: not a serial port|zelscales ports"
  "$held|cannot open $held: busy (locked by another program)|close the program"
  "tcp:127.0.0.1:$free_port|cannot connect to 127.0.0.1:$free_port: connection refused|--tcp-port"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name first also <<<"$row"
  if [[ $name == tcp:* ]]; then
    hostport=${name#tcp:}
    line=(--host "${hostport%:*}" --tcp-port "${hostport##*:}")
  else
    line=(--port "$name")
  fi
  rc=0
  if [ "$name" = "$held" ]; then
    # Another program holds it as the driver would: a lock on the device.
    flock -n "$held" "${tool[@]}" weigh --model 13 "${line[@]}" >"$work/out" 2>"$work/err" || rc=$?
  else
    "${tool[@]}" weigh --model 13 "${line[@]}" >"$work/out" 2>"$work/err" || rc=$?
  fi
  [ "$rc" = 1 ] || fail "$name: exit $rc"
  [ "$(wc -l <"$work/err")" = 2 ] || fail "$name: not two lines: $(cat "$work/err")"
  l1=$(sed -n 1p "$work/err") l2=$(sed -n 2p "$work/err")
  [[ $l1 == "zelscales: $first"* ]] || fail "$name: first line: $l1"
  [[ $l1 == *"$also"* ]] || fail "$name: first line lacks '$also': $l1"
  [ "$l2" = "$text1" ] || fail "$name: second line: $l2"
  if [[ $name == tcp:* ]]; then
    [[ $l1 != *COM* && $l1 != *"port name"* && $l1 != *"zelscales ports"* ]] || fail "TCP sent to a COM port: $l1"
  fi
done

# detect opens the line itself: the same reasons, no driver text.
for row in "--port $work/missing|cannot open $work/missing: no such port" \
           "--host 127.0.0.1 --tcp-port $free_port|cannot connect to 127.0.0.1:$free_port: connection refused"; do
  IFS='|' read -r args first <<<"$row"
  rc=0
  # shellcheck disable=SC2086
  "$zelscales" detect $args --bauds 9600 >"$work/out" 2>"$work/err" || rc=$?
  [ "$rc" = 1 ] || fail "detect $args: exit $rc"
  grep -q "^zelscales: $first; " "$work/err" || fail "detect $args: $(cat "$work/err")"
done

# Closed to this user: denied, with the group to join when the device has one.
# As root the tool runs as the user nobody (root opens everything).
start_sim closed --model 13 --pty
closed=$(readlink -f "$address")
chmod 600 "$closed"
as=()
if [ "$(id -u)" = 0 ]; then as=(setpriv --reuid=65534 --regid=65534 --clear-groups); fi
if [ "$(id -u)" != 0 ] || command -v setpriv >/dev/null; then
  rc=0
  "${as[@]}" "${tool[@]}" weigh --model 13 --port "$closed" >"$work/out" 2>"$work/err" || rc=$?
  [ "$rc" = 1 ] || fail "denied: exit $rc: $(cat "$work/err")"
  l1=$(sed -n 1p "$work/err")
  [[ $l1 == "zelscales: cannot open $closed: permission denied; "* ]] || fail "denied: $l1"
  group=$(stat -c %G "$closed")
  if [ "$group" = root ] || [ "$group" = UNKNOWN ]; then
    [[ $l1 == *"ask for read and write access"* ]] || fail "denied, group $group: $l1"
  else
    [[ $l1 == *"join the group $group"* ]] || fail "denied, group $group: $l1"
  fi
  [ "$(sed -n 2p "$work/err")" = "$text1" ] || fail "denied: $(cat "$work/err")"
else
  fail "root without setpriv: the denied row cannot run"
fi

# --- readings that fail: what came, from the traffic log when it is on ---
touch "$work/log.txt"
# fault | line | first line of the failure
readings=(
  "silence|pty|no reading: no byte came from the scale on "
  "garbage:16|pty|no reading: bytes came but made no frame of model 13: a wrong speed or model? \`zelscales detect\` finds them"
  "loopback|pty|no reading: only the request came back"
  "silence|tcp|no reading: no byte came from 127.0.0.1:"
)
for row in "${readings[@]}"; do
  IFS='|' read -r fault kind first <<<"$row"
  if [ "$kind" = pty ]; then
    start_sim "r$fault-pty" --model 13 --pty --fault "$fault"
    line=(--port "$address" --baud 9600)
  else
    start_sim "r$fault-tcp" --model 13 --tcp 0 --fault "$fault"
    line=(--host "${address%:*}" --tcp-port "${address##*:}")
  fi
  rc=0
  "${tool[@]}" weigh --model 13 "${line[@]}" --attempts 1 >"$work/out" 2>"$work/err" || rc=$?
  [ "$rc" = 1 ] || fail "$fault/$kind: exit $rc"
  [ "$(wc -l <"$work/out")" = 2 ] || fail "$fault/$kind: $(cat "$work/out")"
  l1=$(sed -n 1p "$work/out")
  [[ $l1 == "$first"* ]] || fail "$fault/$kind: $l1"
  [ "$kind" = pty ] || [[ $l1 != *"port name"* && $l1 != *COM* ]] || fail "TCP sent to a COM port: $l1"
  [ "$(sed -n 2p "$work/out")" = "$text3" ] || fail "$fault/$kind: $(cat "$work/out")"
done
# The same as JSON: the reason beside the driver's text.
json=$("${tool[@]}" weigh --model 13 --port "$(head -1 "$work/rgarbage:16-pty.sim")" --baud 9600 --attempts 1 --json || true)
[[ $json == *'"result":3,'*'"error":"Ошибка_3: Нет ответа от весов.","why":"bytes came but made no frame of model 13'* ]] ||
  fail "json: $json"
# Without log.txt beside the library the tool still tells: it runs a private
# copy of the library that logs, and writes nothing beside the user's.
rm -f "$work/log.txt" "$work"/log_scales_*.log
out=$("${tool[@]}" weigh --model 13 --port "$(head -1 "$work/rsilence-pty.sim")" --attempts 1 || true)
[[ $out == "no reading: no byte came from the scale"*$'\n'"$text3" ]] || fail "no log: $out"
! ls "$work"/log.txt "$work"/log_scales_*.log >/dev/null 2>&1 || fail "no log: a log appeared beside the library"

# --- listen: the line that cannot be opened, is lost and is back ---
for row in "--port $work/missing|cannot open $work/missing: no such port; check the name" \
           "--host 127.0.0.1 --tcp-port $free_port|cannot connect to 127.0.0.1:$free_port: connection refused; "; do
  IFS='|' read -r args first <<<"$row"
  rc=0
  # shellcheck disable=SC2086
  "${tool[@]}" listen --model 5 $args --count 1 >"$work/out" 2>"$work/err" &
  pids+=($!)
  wait_for "$work/err" "$first"
  kill -INT "${pids[-1]}"
  wait "${pids[-1]}" || rc=$?
  [ "$rc" = 130 ] || fail "listen $args: exit $rc"
  [ "$(grep -c 'cannot ' "$work/err")" = 1 ] || fail "told more than once: $(cat "$work/err")"
  grep -q "COM" "$work/err" && [[ $args == --host* ]] && fail "TCP sent to a COM port: $(cat "$work/err")"
  [ ! -e "$work/log.txt" ] || fail "listen left log.txt beside the library"
  ! ls "$work"/log_scales_*.log >/dev/null 2>&1 || fail "listen left its traffic log"
done

# A scale that pushes a reading every 300 ms; its line cut once ("h").
mkfifo "$work/sim.in"
"$zelscales" simulate --model 5 --pty --weight 1.234 --push-every 300 <"$work/sim.in" >"$work/push.sim" 2>&1 &
sims+=($!)
exec 3>"$work/sim.in"
for _ in $(seq 100); do [ -s "$work/push.sim" ] && break; sleep 0.1; done
pushing=$(head -1 "$work/push.sim")
"${tool[@]}" listen --model 5 --port "$pushing" >"$work/out" 2>"$work/err" &
pids+=($!)
wait_for "$work/out" " 1.234;"
echo h >&3
wait_for "$work/err" "line $pushing lost; the driver tries to reopen it"
wait_for "$work/err" "line $pushing is back"
lines=$(wc -l <"$work/out")
for _ in $(seq 100); do [ "$(wc -l <"$work/out")" -gt "$lines" ] && break; sleep 0.1; done
[ "$(wc -l <"$work/out")" -gt "$lines" ] || fail "no reading after the line came back"
# The scale gone for good: lost, and why it does not reopen.
kill -TERM "${sims[-1]}"
wait_for "$work/err" "cannot open $pushing: no such port"
kill -INT "${pids[-1]}"
rc=0; wait "${pids[-1]}" || rc=$?
[ "$rc" = 130 ] || fail "listen: exit $rc"
[ "$(grep -c ' lost; ' "$work/err")" = 2 ] || fail "listen: $(cat "$work/err")"
grep -vE '^[0-9:.]+ (line .* (lost; the driver tries to reopen it|is back)|cannot open .*; the driver keeps trying)$' "$work/err" &&
  fail "listen: other lines on stderr"
echo "why: ok"
