# Shared by the CLI tests (sourced): cli_begin, fail and start_sim, which
# needs $zelscales.

# cli_begin: the test's own folder $work, removed at exit with every
# background process named in $pid, $sim, pids or sims.
cli_begin() {
  work=$(mktemp -d)
  sims=(); pids=(); sim=""; pid=""
  trap cli_cleanup EXIT
}
cli_cleanup() {
  exec 3>&- 2>/dev/null || true
  local p
  # The tools first: a tool still retrying a simulator's link after the
  # simulator is gone could take another test's pty behind the same number.
  for p in $pid "${pids[@]}" $sim "${sims[@]}"; do
    kill -KILL "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
# fail TEXT : the test fails; what the last command wrote to $work/err, when
# it is there, follows.
fail() { echo "FAIL: $*" >&2; [ ! -f "$work/err" ] || tail -20 "$work/err" >&2; exit 1; }

# holders PATH : the processes that have the device behind PATH open, one
# "pid command" line each (what a busy port was taken by).
holders() {
  local dev fd
  dev=$(readlink -f "$1") || return 0
  find /proc/[0-9]*/fd -lname "$dev" 2>/dev/null | while read -r fd; do
    fd=${fd%/fd/*}
    echo "${fd#/proc/} $(tr '\0' ' ' <"$fd/cmdline" 2>/dev/null)"
  done | sort -u
}

# usage_errors exact|holds : runs each "ARGUMENTS|TEXT" line of stdin on
# ${tool[@]}; each must exit 2 with one stderr line that is (exact) or holds
# TEXT, and print nothing on stdout.
usage_errors() {
  local how=$1 args wanted status grepx=-qxF
  [ "$how" = exact ] || grepx=-qF
  while IFS='|' read -r args wanted; do
    [ -n "$args" ] || continue
    status=0
    # shellcheck disable=SC2086
    timeout 60 "${tool[@]}" $args >"$work/out" 2>"$work/err" </dev/null || status=$?
    [ "$status" = 2 ] || { cat "$work/err" >&2; fail "zelscales $args: exit $status, wanted 2"; }
    [ "$(wc -l <"$work/err")" = 1 ] || { cat "$work/err" >&2; fail "zelscales $args: not one line on stderr"; }
    grep $grepx -- "$wanted" "$work/err" || fail "zelscales $args: '$(cat "$work/err")', wanted '$wanted'"
    [ ! -s "$work/out" ] || fail "zelscales $args: printed on stdout"
    echo "ok: zelscales $args -> 2: $(cat "$work/err")"
  done
}

# model_table : the table's size and its first and last placeholder, from
# the tool's own model list, into $model_count, $first_reserved and
# $last_reserved.
model_table() {
  read -r model_count first_reserved last_reserved < <("$zelscales" models --json | python3 -c '
import json, sys
rows = [json.loads(l) for l in sys.stdin]
reserved = [r["model"] for r in rows if r["kind"] == "reserved"]
print(len(rows), reserved[0], reserved[-1])')
}

# start_sim NAME ARGS... : a simulator in the background; its first line
# (the pty path or the TCP address) into $address.
start_sim() {
  local name=$1; shift
  # A file of an earlier run under the same name must not be read before
  # this simulator writes (the background redirect may empty it late).
  rm -f "$work/$name.sim"
  "$zelscales" simulate --no-stdin "$@" >"$work/$name.sim" 2>&1 </dev/null &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.sim" ] && break; sleep 0.1; done
  address=$(head -1 "$work/$name.sim")
  [ -n "$address" ] || fail "simulator $name did not start"
}
