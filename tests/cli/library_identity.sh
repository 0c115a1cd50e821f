#!/usr/bin/env bash
# The tool drives only the library built from its own model table: another
# build (its identity mark changed), or a library with no mark, is refused
# with exit 3 and a message naming both identities and --force, before it
# is loaded; --force lets it through with a warning; the build's own passes
# silently. Commands that load no library do not look at it.
#   library_identity.sh ZELSCALES LIBRARY
set -euo pipefail
zelscales=$1 library=$2
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cli_begin
name=$(basename "$library")

# copy DIR HOW: the library into $work/DIR with its mark as HOW has it:
# same (untouched), other (another identity), none (no mark); prints the
# identity the copy carries.
copy() {
  mkdir -p "$work/$1"
  python3 - "$library" "$work/$1/$name" "$2" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
# A debug build holds the mark twice (the data, and its value in the debug
# information): every copy is patched.
marks = list(re.finditer(rb"\nZEL-BUILD-IDENTITY=([0-9a-f]{16})\n", data))
assert marks and len({m.group(1) for m in marks}) == 1, "the library's build identity marks: %r" % marks
digits, identity = b"0123456789abcdef", marks[0].group(1)
if sys.argv[3] == "other":
    identity = bytes(digits[(digits.index(c) + 1) % 16] for c in identity)
    data = data.replace(b"\nZEL-BUILD-IDENTITY=" + marks[0].group(1), b"\nZEL-BUILD-IDENTITY=" + identity)
elif sys.argv[3] == "none":
    data = data.replace(b"\nZEL-BUILD-IDENTITY=", b"\nZEL-BUILD-NOTHING=!")
    identity = b""
open(sys.argv[2], "wb").write(data)
print(identity.decode())
PY
}
own=$(copy same same)
other=$(copy other other)
copy none none >/dev/null
[ "$own" != "$other" ] || fail "the patched copy kept the identity $own"
echo "ok: the library's build identity is $own; the patched copy's $other"

# command | exit status | a text its stderr holds (- : stderr empty)
while IFS='|' read -r dir args status wanted; do
  [ -n "$dir" ] || continue
  rc=0
  # shellcheck disable=SC2086
  "$zelscales" --library "$work/$dir/$name" $args >"$work/out" 2>"$work/err" </dev/null || rc=$?
  [ "$rc" = "$status" ] || fail "$dir: zelscales $args: exit $rc, wanted $status"
  if [ "$wanted" = - ]; then
    [ ! -s "$work/err" ] || fail "$dir: zelscales $args: wrote on stderr"
  else
    grep -qF -- "$wanted" "$work/err" || fail "$dir: zelscales $args: stderr '$(cat "$work/err")' lacks '$wanted'"
  fi
  if [ "$status" = 3 ]; then
    [ ! -s "$work/out" ] || fail "$dir: zelscales $args: refused, yet printed on stdout"
    [ "$(wc -l <"$work/err")" = 1 ] || fail "$dir: zelscales $args: not one line on stderr"
  fi
  echo "ok: $dir: zelscales $args -> $rc"
done <<EOT
same|version|0|-
same|params --json|0|-
same|weigh|0|-
other|version|3|is build $other, this zelscales build $own: the models it weighs and those zelscales describes may differ; --force loads it anyway
other|params|3|$work/other/$name
other|weigh|3|is build $other
other|weigh --trace|3|$work/other/$name is build $other
other|price --cents 100|3|is build $other
other|listen --model 5 --port /dev/zelscales-none|3|is build $other
none|version|3|carries no build identity
none|weigh|3|this zelscales is build $own
other|--force version|0|warning: the driver library $work/other/$name is build $other, this zelscales build $own
other|weigh --force|0|(loaded with --force)
none|params --force|0|carries no build identity
other|models|0|-
other|decode $work/none.log|1|cannot open
EOT

# --force is told once a run, even where the library is checked twice (the
# traced copy, then the copy loaded).
"$zelscales" --library "$work/other/$name" --force weigh --trace >/dev/null 2>"$work/err" || fail "--force --trace weigh"
[ "$(grep -c 'warning:' "$work/err")" = 1 ] || fail "--force --trace: $(grep -c 'warning:' "$work/err") warnings"
echo "ok: one warning for a traced run"
