#!/usr/bin/env python3
"""Checks zelscales --json output: every line of FILE is one JSON object
(strict: NaN and Infinity refused) with a UTC time to the millisecond and a
result code, and its fields meet the conditions given as KEY=VALUE (the
value compared as JSON, e.g. weight=2.5, stable=true, unit="kg") or KEY? (the
key present). Prints the line count.
    json_lines.py FILE MIN_LINES [KEY=VALUE | KEY?]...
"""
import json
import re
import sys


def refuse(token):
    raise ValueError("not JSON: " + token)


def main():
    path, min_lines = sys.argv[1], int(sys.argv[2])
    conditions = sys.argv[3:]
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if len(lines) < min_lines:
        sys.exit("json_lines: %d lines, wanted at least %d" % (len(lines), min_lines))
    for number, raw in enumerate(lines, 1):
        try:
            obj = json.loads(raw.decode("utf-8"), parse_constant=refuse)
        except Exception as e:  # noqa: BLE001 - any failure is the finding
            sys.exit("json_lines: line %d: %s: %r" % (number, e, raw))
        if not isinstance(obj, dict):
            sys.exit("json_lines: line %d is not an object: %r" % (number, raw))
        if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", str(obj.get("time"))):
            sys.exit("json_lines: line %d: bad time: %r" % (number, raw))
        if not isinstance(obj.get("result"), int):
            sys.exit("json_lines: line %d: no result code: %r" % (number, raw))
        for c in conditions:
            if c.endswith("?"):
                if c[:-1] not in obj:
                    sys.exit("json_lines: line %d has no %s: %r" % (number, c[:-1], raw))
                continue
            key, value = c.split("=", 1)
            if obj.get(key, "<absent>") != json.loads(value):
                sys.exit("json_lines: line %d: %s is %r, wanted %s: %r" % (number, key, obj.get(key, "<absent>"), value, raw))
    print(len(lines))


main()
