#!/usr/bin/env bash
# `zelscales ports` as a user runs it: on this machine, text and --json
# telling the same ports, every USB and ACM node of /dev among them; then on
# a made-up machine's tree (--root) with a UART and a USB adapter, the exact
# text and the JSON fields.
#   ports.sh ZELSCALES
set -euo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# This machine.
"$tool" ports >"$work/text"
"$tool" ports --json >"$work/json"
cat "$work/text"
python3 - "$work/json" "$work/text" <<'PY'
import json, sys
lines = open(sys.argv[1], "rb").read().decode("utf-8").splitlines()
ports = [json.loads(l) for l in lines]
for p in ports:
    assert p["name"].startswith("/dev/tty"), p
    assert p["kind"] in ("uart", "usb", "acm"), p
    assert p["access"] in ("free", "busy", "denied", "unknown"), p
    assert isinstance(p["aliases"], list), p
text = open(sys.argv[2], encoding="utf-8").read()
if not ports:
    assert text == "no serial ports found\n", text
heads = [l.split()[0] for l in text.splitlines() if l and not l.startswith(" ")]
assert heads == [p["name"] for p in ports] or not ports, (heads, ports)
PY
for node in /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$node" ] || continue
  grep -q "\"name\":\"$node\"" "$work/json" || { echo "ports: $node not listed" >&2; exit 1; }
done

# A made-up machine: one UART, one USB adapter with its stable name.
t="$work/tree"
usb=devices/pci0000:00/0000:00:14.0/usb1/1-2
mkdir -p "$t/sys/$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0" "$t/sys/bus/usb-serial/drivers/ftdi_sio" \
  "$t/sys/devices/pnp0/00:05/tty/ttyS0" "$t/sys/bus/pnp/drivers/serial" "$t/sys/class/tty" "$t/dev/serial/by-id"
printf '0403\n' >"$t/sys/$usb/idVendor"
printf '6001\n' >"$t/sys/$usb/idProduct"
printf 'FTDI\n' >"$t/sys/$usb/manufacturer"
printf 'FT232R USB UART\n' >"$t/sys/$usb/product"
printf 'A50285BI\n' >"$t/sys/$usb/serial"
ln -s ../.. "$t/sys/$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0/device"
ln -s ../../../../../../../bus/usb-serial/drivers/ftdi_sio "$t/sys/$usb/1-2:1.0/ttyUSB0/driver"
ln -s "../../$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0" "$t/sys/class/tty/ttyUSB0"
ln -s ../.. "$t/sys/devices/pnp0/00:05/tty/ttyS0/device"
printf '4\n' >"$t/sys/devices/pnp0/00:05/tty/ttyS0/type"
ln -s ../../../bus/pnp/drivers/serial "$t/sys/devices/pnp0/00:05/driver"
ln -s ../../devices/pnp0/00:05/tty/ttyS0 "$t/sys/class/tty/ttyS0"
: >"$t/dev/ttyS0"
: >"$t/dev/ttyUSB0"
ln -s ../../ttyUSB0 "$t/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"

"$tool" ports --root "$t" >"$work/text"
w=$(( ${#t} + 12 ))
printf "%-${w}s  uart  free\n%${w}s  driver serial\n%-${w}s  usb   free\n%${w}s  FTDI FT232R USB UART (0403:6001), serial A50285BI, driver ftdi_sio\n%${w}s  %s\n" \
  "$t/dev/ttyS0" "" "$t/dev/ttyUSB0" "" "" "$t/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" >"$work/want"
diff -u "$work/want" "$work/text"
"$tool" ports --root "$t" --json >"$work/json"
python3 - "$work/json" "$t" <<'PY'
import json, sys
root = sys.argv[2]
ports = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
assert [p["name"] for p in ports] == [root + "/dev/ttyS0", root + "/dev/ttyUSB0"], ports
usb = ports[1]
assert usb["usb"] == {"vendor_id": "0403", "product_id": "6001", "manufacturer": "FTDI",
                      "product": "FT232R USB UART", "serial": "A50285BI"}, usb
assert usb["driver"] == "ftdi_sio" and usb["access"] == "free", usb
assert usb["aliases"] == [root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"], usb
assert "usb" not in ports[0] and ports[0]["driver"] == "serial", ports[0]
PY
# Usage errors.
if "$tool" ports --bogus 2>/dev/null; then echo "ports: --bogus accepted" >&2; exit 1; fi
"$tool" ports --root 2>/dev/null && exit 1 || [ $? = 2 ]
echo "ports: ok"
