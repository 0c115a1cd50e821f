#!/usr/bin/env python3
"""Writes the seed corpora of fuzz_host_calls and fuzz_traffic_log: the calls
a platform makes in a session, and transfers as the scales send them, in the
fuzzers' input forms. Run from the repository root: python3 fuzz/seeds.py"""
import os
import struct

# ---- fuzz_host_calls: opcodes and value forms of Session in fuzz_host_calls.cpp
CALL, METHOD_NAME, FIND_METHOD, NPARAMS, DEFVALUE, GETPROP, SETPROP, PROPS, \
    REFUSE, LOCALE, EXTENSION, PROC, SETPARAM, REINIT = range(14)
NAMES = ["model", "conntype", "cbaudrate", "eport", "conleave", "cport", "ehost", "coeff"]
(GET_VERSION, GET_DESCRIPTION, GET_LAST_ERROR, GET_PARAMETERS, SET_PARAMETER, OPEN, CLOSE,
 DEVICE_TEST, GET_ACTIONS, DO_ACTION, CALIBRATE, GET_WEIGHT, SET_PRICE, GET_WPC) = range(14)


def empty(): return bytes([0])
def i4(v): return bytes([2]) + struct.pack("<i", v)
def r8(v): return bytes([3]) + struct.pack("<d", v)
def boolean(b): return bytes([4, b])
def name(n): return bytes([6, NAMES.index(n)])           # dictionary text
def wtext(t):
    units = t.encode("utf-16-le")
    return bytes([5, len(units) // 2]) + units
def atext(t): return bytes([7, len(t)]) + t
def device(k=0): return bytes([13, k])                    # an ID the driver handed back
def small(v): return bytes([15, v & 0xFF])


def call(method, *args, flags=0, count=None):
    out = bytes([CALL, method, len(args)]) + b"".join(args)
    if count is not None:
        flags |= 16
    out += bytes([flags])
    if count is not None:
        out += bytes([count + 2])
    return out


def setp(n, value): return bytes([SETPARAM, NAMES.index(n)]) + value


def session(model, tcp=False):
    s = setp("model", small(model))
    if tcp:
        s += setp("conntype", small(1))
    s += call(OPEN, empty()) + call(GET_WEIGHT, device(), empty())
    s += call(SET_PRICE, device(), i4(1250)) + call(GET_WPC, device(), empty(), empty(), empty(), empty())
    s += call(CALIBRATE, device(), empty()) + call(DEVICE_TEST, empty(), empty()) + call(CLOSE, device())
    return s


seeds = {
    "describe": call(GET_VERSION) + call(GET_DESCRIPTION, *[empty()] * 7) + call(GET_LAST_ERROR, empty()) +
                call(GET_PARAMETERS, empty()) + call(GET_ACTIONS, empty()) + call(DO_ACTION, wtext("x")),
    "emulator": session(20),
    "emulator_refused": bytes([REFUSE]) + struct.pack("<Q", 0x5555555555555555) + session(20),
    "serial_models": session(13) + session(10) + session(22),
    "tcp_models": session(14, tcp=True) + session(5, tcp=True),
    "names": b"".join(bytes([METHOD_NAME, m, a]) for m in range(14) for a in (0, 1)) +
             b"".join(bytes([NPARAMS, m]) for m in range(14)) +
             bytes([FIND_METHOD, 15, FIND_METHOD, 16, METHOD_NAME, 0xF0]) + struct.pack("<i", -1) + bytes([1]),
    "props": bytes([GETPROP, 0, SETPROP, 0]) + boolean(1) + bytes([PROPS, 9, 0, 0, EXTENSION, LOCALE, 0,
                                                                   DEFVALUE, 4, 1, PROC, 0, 0]),
    "parameters": setp("cbaudrate", r8(9600.0)) + setp("conleave", boolean(1)) + setp("cport", atext(b"COM3")) +
                  setp("ehost", wtext("scale.local")) + setp("eport", i4(20108)) + setp("coeff", wtext("0,5")) +
                  setp("model", r8(20.9)) + call(OPEN, empty()) + call(GET_WEIGHT, device(), empty()),
    "short_counts": call(GET_DESCRIPTION, empty(), empty(), count=1) + call(SET_PRICE, wtext("1"), count=1) +
                    call(GET_WPC, empty(), empty(), empty(), count=2) + call(GET_LAST_ERROR, flags=3),
}
d = "fuzz/corpus/fuzz_host_calls"
os.makedirs(d, exist_ok=True)
for k, v in seeds.items():
    open(os.path.join(d, k), "wb").write(v)

# ---- fuzz_traffic_log: direction, time, line, then the bytes
def block(direction, line_kind, name, numbers, data):
    head = struct.pack("<bHBBBBBH", direction, 2020, 3, 5, 14, 7, 9, 601)
    head += bytes([line_kind, len(name)]) + name + b"".join(struct.pack("<i", n) for n in numbers)
    return head + data

d = "fuzz/corpus/fuzz_traffic_log"
os.makedirs(d, exist_ok=True)
logs = {
    "com_in": block(2, 1, b"\\\\.\\COM1", [9600, 0, 8, 0, 0, 0], b"ww 0001.234kg\r\nww 0001.234kg\r\n"),
    "tcp_out": block(1, 0, b"192.168.1.50", [20108], bytes([0x4A, 0x00, 0x00, 0x00, 0x23, 0x05, 0x00])),
    "sys_open": block(0, 1, b"/dev/ttyUSB0", [4800, 2, 8, 2, 1, 1], b"OPEN"),
    "long_cas": block(2, 0, b"scale.local", [20108], bytes(range(256)) * 2),
}
for k, v in logs.items():
    open(os.path.join(d, k), "wb").write(v)
