#!/usr/bin/env bash
# What the tool tells the technician is what happened: against simulated
# scales, each message a user sees for the everyday cases where it used to
# say something untrue.
#   truthful.sh ZELSCALES LIBRARY
set -euo pipefail
zelscales=$1 library=$2
tool=("$zelscales")
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin

# A line without a model is not the emulator's.
usage_errors holds <<'EOT'
weigh --port /dev/zelscales-none --baud 9600|--port needs --model M
weigh --host 127.0.0.1|--host needs --model M
price --cents 100 --port /dev/zelscales-none|`zelscales detect` finds it
tare --host 127.0.0.1 --tcp-port 9|--host needs --model M
test --port /dev/zelscales-none|--port needs --model M
weigh --model 13 --port /dev/zelscales-none --coeff 1e3|no sign, no exponent
weigh --model 13 --port /dev/zelscales-none --coeff -1|no sign, no exponent
weigh --model 13 --port /dev/zelscales-none --coeff +2|no sign, no exponent
weigh --model 13 --port /dev/zelscales-none --coeff 0x10|no sign, no exponent
weigh --model 13 --port /dev/zelscales-none --coeff 1.2.3|no sign, no exponent
weigh --model 13 --port /dev/zelscales-none --coeff 0,000|no sign, no exponent
detect --port /dev/zelscales-none --bauds 9601|bad --bauds 9601: wants speeds of 1200,2400
detect --port /dev/zelscales-none --bauds 9600,300|bad --bauds 9600,300
models --trace|--trace is for weigh, price, tare, test, detect and listen
--trace version|--trace is for weigh, price, tare, test, detect and listen
EOT

# --trace is in the usage of each command that takes it, and before the command.
for command in weigh price tare test; do
  "$zelscales" "$command" --help | grep -q -- '--trace' || fail "$command --help: no --trace"
done
"$zelscales" --help | grep -q -- '--trace' || fail "--help: no --trace"
"$zelscales" --library "$library" --trace weigh >"$work/out" 2>"$work/err" || fail "--trace weigh"
grep -q '^weight ' "$work/out" || fail "--trace weigh: $(cat "$work/out")"
echo "ok: --trace before the command"

# The emulator's money is its cents.
"$zelscales" --library "$library" price --price 2.75 --count 5 --interval 0 --json >"$work/out" 2>/dev/null
python3 - "$work/out" <<'EOP' || fail "emulator money: $(cat "$work/out")"
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    for key in ("price", "cost"):
        text = json.dumps(r[key])
        assert len(text.split(".")[-1]) <= 2 or "." not in text, text
EOP
echo "ok: the emulator's price and cost in cents"

# Every coefficient taken multiplies the weight: a 2.5 kg CAS scale.
start_sim cas --model 13 --pty --weight 2.5
cas=$address
while IFS='|' read -r coeff wanted; do
  [ -n "$coeff" ] || continue
  got=$("$zelscales" --library "$library" weigh --model 13 --port "$cas" --baud 9600 --coeff "$coeff" 2>/dev/null)
  [ "$got" = "$wanted" ] || fail "--coeff $coeff: '$got', wanted '$wanted'"
  echo "ok: --coeff $coeff: $got"
done <<'EOT'
1.5|weight 3.750 (kg x 1.5)  stable
1,5|weight 3.750 (kg x 1,5)  stable
.5|weight 1.250 (kg x .5)  stable
2.|weight 5.000 (kg x 2.)  stable
1000|weight 2500.000 (kg x 1000)  stable
1|weight 2.500 kg  stable
EOT

# Several readings end with a summary.
"$zelscales" --library "$library" weigh --model 13 --port "$cas" --baud 9600 --count 3 --interval 0 >"$work/out"
grep -q '^answered 3 of 3, median [0-9]* ms and slowest [0-9]* ms to a reading; results 0 x3$' "$work/out" ||
  fail "summary: $(cat "$work/out")"
echo "ok: weigh --count 3 ends with its summary"

# The wrong model on a scale that answers only its own request: not the cable alone.
"$zelscales" --library "$library" weigh --model 14 --port "$cas" --baud 9600 --attempts 1 >"$work/out" 2>/dev/null || true
grep -q "answers only its own model's request at its speed: check --model and --baud (\`zelscales detect\` finds them)" \
  "$work/out" || fail "model 14 on a CAS scale: $(cat "$work/out")"
# An event-driven model asked for a weight: listen, not "does not take this command".
"$zelscales" --library "$library" weigh --model 5 --port "$cas" --baud 9600 >"$work/out" 2>/dev/null || true
grep -qF "no reading: model 5 pushes its readings when the scale sends them: \`zelscales listen --model 5 --port $cas\` prints them" \
  "$work/out" || fail "weigh --model 5: $(cat "$work/out")"
echo "ok: hints that fit"

# The settings in effect: detect switches the line for its steps.
"$zelscales" detect --trace --port "$cas" --bauds 9600 >/dev/null 2>"$work/err"
grep -q '^[0-9:.]* settings 9600 8N1 (the open above was at the port.s defaults, before the switch)$' "$work/err" ||
  fail "detect --trace: $(head -5 "$work/err")"
grep -q '^[0-9:.]* settings 9600 8E1$' "$work/err" || fail "detect --trace: no 8E1 step shown"
echo "ok: detect --trace shows the speed and framing of each step"

# A grams scale (model 10, 8E1; no stable flag in its format).
start_sim massak --model 10 --pty --weight 1.234
massak=$address
"$zelscales" --library "$library" weigh --model 10 --port "$massak" --baud 9600 --trace >"$work/out" 2>"$work/err"
[ "$(cat "$work/out")" = "weight 1234.000 g" ] || fail "model 10: '$(cat "$work/out")'"
grep -q '^[0-9:.]* open     COMPORT: .*;4800\\None\\8\\1' "$work/err" || fail "model 10 trace: no open"
grep -q '^[0-9:.]* settings 9600 8E1 (the open above was logged at the port.s defaults, before the switch)$' "$work/err" ||
  fail "model 10 trace: no settings: $(cat "$work/err")"
got=$("$zelscales" --library "$library" weigh --model 10 --port "$massak" --baud 9600 --coeff 0.001)
[ "$got" = "weight 1.234 kg" ] || fail "model 10 --coeff 0.001: '$got'"
json=$("$zelscales" --library "$library" weigh --model 10 --port "$massak" --baud 9600 --coeff 0.001 --json)
python3 -c '
import json, sys
r = json.loads(sys.argv[1])
assert r["unit"] == "kg" and r["coeff"] == 0.001 and r["stable"] is None and r["weight"] == 1.234, r
' "$json" || fail "model 10 json: $json"
echo "ok: model 10: no stability word, --coeff 0.001 gives kg, the 8E1 line shown"

# decode shows the settings of the data blocks.
cp "$library" "$work/" && touch "$work/log.txt"
lib="$work/$(basename "$library")"
"$zelscales" --library "$lib" weigh --model 10 --port "$massak" --baud 9600 >/dev/null 2>&1
log=$(ls "$work"/log_scales_*.log)
out=$("$zelscales" decode "$log" --model 10)
grep -q '  settings 9600 8E1 (the open above was logged at the port.s defaults, before the switch)$' <<<"$out" ||
  fail "decode: no settings: $out"
grep -q '=> model 10: weight 1234 g, price 0, cost 0 (result 0)$' <<<"$out" || fail "decode: stability: $out"
"$zelscales" decode --json "$log" --model 10 | python3 -c '
import json, sys
rows = [json.loads(l) for l in sys.stdin]
sent = [r for r in rows if r.get("direction") == "sent"]
assert sent and all(r["settings"] == "9600 8E1" for r in sent), sent
assert any("port" in r and r.get("note", "").startswith("the open above was logged") for r in rows)
assert [r["stable"] for r in rows if "verdict" in r] == [None], rows
' || fail "decode --json: settings"
rm -f "$work"/log_scales_*.log
echo "ok: decode shows the settings each block ran at"

# A file that is not a traffic log: one error, exit 1.
printf 'one\ntwo\nthree\n' >"$work/notes.txt"
rc=0; "$zelscales" decode "$work/notes.txt" >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] || fail "decode of a text: exit $rc, $(cat "$work/err")"
echo "ok: decode of a file that is no log: $(cat "$work/err")"

# Hundredths as hundredths (model 0, 8E1, grams).
start_sim vta --model 0 --pty --weight 1.234 --price 12.5
"$zelscales" --library "$library" price --price 12.50 --model 0 --port "$address" --baud 9600 --coeff 0.001 >"$work/out" 2>/dev/null
[ "$(tail -1 "$work/out")" = "weight 1.234 kg  price 1250 hundredths (12.50)  cost 1543 hundredths (15.43)" ] ||
  fail "model 0 price: $(cat "$work/out")"
json=$("$zelscales" --library "$library" price --price 12.50 --model 0 --port "$address" --baud 9600 --json 2>/dev/null)
python3 -c '
import json, sys
r = json.loads(sys.argv[1])
assert r["price"] == 1250 and r["money"] == "hundredths" and r["priceAmount"] == 12.5 and r["costAmount"] == 15.43, r
' "$json" || fail "model 0 json: $json"
echo "ok: hundredths shown as hundredths and the amount they mean"

# An event-driven scale: price --count 1 shows one event.
start_sim pushing --model 5 --pty --weight 1.5 --push-every 100
"$zelscales" --library "$library" price --cents 1250 --model 5 --port "$address" --baud 9600 --count 1 --json >"$work/out" 2>/dev/null
[ "$(grep -c '"weight"' "$work/out")" = 1 ] || fail "price --count 1 on model 5: $(cat "$work/out")"
echo "ok: price --count 1 on model 5 shows one event"

# The models reference: a stable flag, and zero only where a method sends it.
"$zelscales" models --json | python3 -c '
import json, sys
rows = {r["model"]: r for r in map(json.loads, sys.stdin)}
assert rows[10]["stableFlag"] is False and rows[40]["stableFlag"] is False and rows[13]["stableFlag"] is True, rows[10]
assert rows[8]["zero"] is None and rows[16]["zero"] is None, (rows[8], rows[16])
' || fail "models --json: stable flag and zero"
"$zelscales" models --markdown >"$work/out"; head -1 "$work/out" | grep -q "| stable flag |" || fail "models --markdown: no stable flag column"
echo "ok: models: stable flag, no zero that nothing sends"

# A Modbus scale that answers the tare with an exception: told as the reply
# it was, not as silence (model 41 on TCP, a one-reply fake scale).
port_file="$work/fake.port"
python3 - "$port_file" <<'EOP' &
import socket, sys
def crc(data):
    c = 0xFFFF
    for b in data:
        c ^= b
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return bytes([c & 0xFF, c >> 8])
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0)); s.listen(4)
open(sys.argv[1] + ".tmp", "w").write(str(s.getsockname()[1]))
import os; os.rename(sys.argv[1] + ".tmp", sys.argv[1])
s.settimeout(20)
reply = bytes([0x01, 0x86, 0x02]); reply += crc(reply)
while True:
    try:
        c, _ = s.accept()
    except OSError:
        break
    c.settimeout(2)
    try:
        while True:
            data = c.recv(64)
            if not data:
                break
            c.sendall(reply)
    except OSError:
        pass
    c.close()
EOP
pids+=($!)
for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
fake=$(cat "$port_file")
rc=0
"$zelscales" --library "$library" -v tare --model 41 --host 127.0.0.1 --tcp-port "$fake" >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] || fail "refused tare: exit $rc"
grep -q '^zelscales: tare failed: the scale answered 01 86 02 [0-9A-F]{2} [0-9A-F]{2}, which does not confirm the tare$' -E "$work/err" ||
  fail "refused tare: $(cat "$work/err")"
grep -q '^tare: the scale sent an exception reply of function 06: exception code 2$' "$work/err" ||
  fail "refused tare, verbose: $(cat "$work/err")"
! grep -q 'no bytes' "$work/err" || fail "refused tare called silence"
echo "ok: a refused tare is told as the reply it was"

# --device N: the device of settings.ini beside the library.
mkdir "$work/dev" && cp "$library" "$work/dev/"
printf '[SCALES0]\nfNum=7\nfType=13\nfIsComPort=1\nfComPortName=%s\nfComBaudRate=9600\n' "$cas" >"$work/dev/settings.ini"
printf '[SCALES1]\nfNum=8\nfType=10\nfIsComPort=1\nfComPortName=%s\nfComBaudRate=9600\nfCoeff=0.001\n' "$massak" >>"$work/dev/settings.ini"
got=$("$zelscales" --library "$work/dev/$(basename "$library")" weigh --device 7)
[ "$got" = "weight 2.500 kg  stable" ] || fail "weigh --device 7: '$got'"
got=$("$zelscales" --library "$work/dev/$(basename "$library")" weigh --device 8 --json)
python3 -c '
import json, sys
r = json.loads(sys.argv[1])
assert r["device"] == 8 and r["model"] == 10 and r["unit"] == "kg" and r["weight"] == 1.234, r
' "$got" || fail "weigh --device 8: $got"
rc=0; "$zelscales" --library "$work/dev/$(basename "$library")" weigh --device 9 2>"$work/err" || rc=$?
[ "$rc" = 1 ] && grep -q 'no device 9 in' "$work/err" || fail "weigh --device 9: exit $rc, $(cat "$work/err")"
usage_errors holds <<'EOT'
weigh --device 7 --model 13|--device N takes its model, line and coefficient from settings.ini
EOT
echo "ok: weigh --device"

# listen with log.txt beside the library: the driver's own log there.
mkdir "$work/ll" && cp "$library" "$work/ll/" && touch "$work/ll/log.txt"
"$zelscales" --library "$work/ll/$(basename "$library")" listen --model 5 --port "$address" --count 1 >/dev/null 2>&1 ||
  fail "listen with log.txt"
ls "$work"/ll/log_scales_*.log >/dev/null 2>&1 || fail "listen with log.txt beside the library wrote no log there"
echo "ok: listen uses the library's own log"

echo "truthful: ok"
