#!/usr/bin/env bash
# The packaged Linux library and zelscales tool on an older system than the
# build machine: a Debian 11 root (glibc 2.31), made with debootstrap from the
# Debian mirror apt uses here and kept between runs. In a chroot, with every
# symbol bound at load (LD_BIND_NOW), the tool
#  - loads the library and prints its version,
#  - weighs on the emulator (model 20),
#  - weighs a polled scale (model 10) and listens to an event-driven one
#    (model 5), each simulated outside the chroot on 127.0.0.1 (the chroot
#    shares the network),
#  - opens a port that does not exist: the library throws and catches that
#    inside itself, so the tool must end with "not opened", not an abort.
#   debian11-check.sh [ZIP [ZELSCALES]]
# Default: dist/ZelvatScalesNativeDriver.zip and, unless the archive holds a
# Linux zelscales, build-release/tools/zelscales. Needs root; where this
# machine cannot make the root (not root, no debootstrap, the mirror does not
# serve bullseye), it says why and skips.
# ZEL_DEBIAN11_ROOT: where the root is kept (default /var/cache/zelscales/debian11);
# ZEL_DEBIAN_MIRROR: the mirror (default: the first Debian archive in apt's sources).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
NAME=ZelvatScalesNativeDriver
SUITE=bullseye
zip=$(realpath "${1:-dist/$NAME.zip}")
tool_arg=${2:-build-release/tools/zelscales}
root=${ZEL_DEBIAN11_ROOT:-/var/cache/zelscales/debian11}
started=$SECONDS

skip() { echo "!! debian11: SKIPPED: $*" >&2; exit 0; }
fail() { echo "debian11: FAIL: $*" >&2; exit 1; }

[ -f "$zip" ] || fail "no archive $zip (run scripts/package.sh)"
[ "$(id -u)" = 0 ] || skip "making and entering a chroot needs root"

# The mirror: apt's first Debian archive (one-line or deb822 sources).
mirror=${ZEL_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$( (cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null || true) |
    sed -n -e 's/^deb \(\[[^]]*\] \)\{0,1\}\(https\{0,1\}:\/\/[^ ]*\/debian\)\/\{0,1\} .*/\2/p' \
           -e 's/^URIs: *\(https\{0,1\}:\/\/[^ ]*\/debian\)\/\{0,1\}\( .*\)\{0,1\}$/\1/p' | head -1)
fi

# make_root: debootstrap into a scratch folder beside the cache, moved into
# place only when complete. One maker at a time.
make_root() {
  command -v debootstrap >/dev/null || skip "debootstrap is not installed (scripts/deps.sh all installs it)"
  [ -n "$mirror" ] || skip "no Debian mirror found in /etc/apt/sources.list*; set ZEL_DEBIAN_MIRROR"
  local answer url="$mirror/dists/$SUITE/InRelease"
  if ! answer=$(curl -fsS --max-time 30 -o /dev/null -w '%{http_code}' "$url" 2>"$root.curl"); then
    skip "Debian 11 ($SUITE) is not reachable on the mirror ($url): HTTP $answer, $(tr '\n' ' ' <"$root.curl")"
  fi
  echo "debian11: $mirror serves $SUITE (InRelease: HTTP $answer); making the root in $root"
  local scratch="$root.new" log="$root.log" t0=$SECONDS
  rm -rf "$scratch"
  if ! debootstrap --variant=minbase "$SUITE" "$scratch" "$mirror" >"$log" 2>&1; then
    tail -20 "$log" >&2
    rm -rf "$scratch"
    fail "debootstrap $SUITE from $mirror failed (log: $log)"
  fi
  date -u +%FT%TZ >"$scratch/.zelscales-root"
  rm -rf "$root"
  mv "$scratch" "$root"
  echo "debian11: debootstrap took $((SECONDS - t0)) s ($(du -sh "$root" | cut -f1))"
}
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9
if [ -f "$root/.zelscales-root" ]; then
  echo "debian11: the root made $(cat "$root/.zelscales-root") in $root"
else
  make_root
fi
flock -u 9

work=$(mktemp -d "$root/tmp/zelscales-check.XXXXXX")
inner=${work#"$root"}
sims=()
cleanup() {
  local p
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && cmake -E tar xf "$zip")
lib="$inner/${NAME}_x64.so"
[ -f "$root$lib" ] || fail "$zip holds no ${NAME}_x64.so"
# The archive's own tool where it carries one.
packed_tool=$(cd "$work" && find . -type f -name zelscales | head -1)
if [ -n "$packed_tool" ]; then
  tool="$work/${packed_tool#./}"
else
  tool=$(realpath "$tool_arg")
  cp "$tool" "$work/zelscales"
  tool="$work/zelscales"
fi
chmod +x "$tool"
tool_inside=${tool#"$root"}
echo "debian11: $(chroot "$root" /lib/x86_64-linux-gnu/libc.so.6 | head -1)"
echo "debian11: checking $(basename "$zip"):${NAME}_x64.so and ${tool_inside#"$inner"/}"

failed=0
complain() { echo "debian11: FAIL: $*" >&2; failed=1; }
# inside ARGS...: the tool in the chroot, all symbols bound at load.
inside() {
  timeout 30 chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin LANG=C.UTF-8 LD_BIND_NOW=1 \
    "$tool_inside" --library "$lib" "$@" </dev/null
}
out="$work/out" err="$work/err"
# show: what the tool printed, for a failure.
show() { cat "$out" "$err" >&2; }

if inside --verbose version >"$out" 2>"$err" && grep -qxF "library $lib" "$out" "$err"; then
  echo "debian11: version: $(grep -v -m1 '^library \|^> ' "$out")"
else
  complain "the library does not load:"; show
fi

if inside weigh --count 3 --interval 100 --attempts 6 --json >"$out" 2>"$err" && "$ROOT/tests/cli/json_lines.py" "$out" 3 model=20 result=0 >/dev/null; then
  echo "debian11: emulator: $(head -1 "$out")"
else
  complain "no reading from the emulator:"; show
fi

# simulate MODEL ARGS...: a simulated scale outside the chroot on a free TCP
# port; sets $port.
simulate() {
  local log="$work/sim$1.out"
  "$tool" simulate --model "$@" --tcp 0 --no-stdin >"$log" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do [ -s "$log" ] && break; sleep 0.1; done
  port=$(head -1 "$log")
  port=${port##*:}
  [[ "$port" =~ ^[0-9]+$ ]] || { cat "$log" >&2; fail "the simulator of model $1 did not start"; }
}

simulate 10 --weight 1.5
if inside weigh --model 10 --host 127.0.0.1 --tcp-port "$port" --count 2 --interval 100 --json >"$out" 2>"$err" &&
   "$ROOT/tests/cli/json_lines.py" "$out" 2 model=10 result=0 weight=1500 >/dev/null; then
  echo "debian11: simulated model 10 over TCP: $(head -1 "$out")"
else
  complain "no reading from the simulated model 10:"; show
fi

simulate 5 --weight 2.5 --push-every 200
if inside listen --model 5 --host 127.0.0.1 --tcp-port "$port" --count 2 --json >"$out" 2>"$err" &&
   "$ROOT/tests/cli/json_lines.py" "$out" 2 model=5 result=0 weight=2.5 >/dev/null; then
  echo "debian11: simulated model 5 pushing over TCP: $(head -1 "$out")"
else
  complain "no event from the simulated model 5:"; show
fi

rc=0
inside weigh --model 13 --port /dev/zelscales-no-such-port >"$out" 2>"$err" || rc=$?
if [ "$rc" = 1 ] && grep -q 'result 1' "$out" "$err"; then
  echo "debian11: a port that does not exist: exit 1, result 1 (thrown and caught in the library)"
else
  complain "a port that does not exist: exit $rc:"; show
fi

echo "debian11: checks took $((SECONDS - started)) s in all"
[ "$failed" = 0 ] && echo "debian11: the packaged library and tool work on Debian 11 (glibc 2.31)"
exit "$failed"
