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
  for p in $pid $sim "${pids[@]}" "${sims[@]}"; do
    kill -KILL "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
# fail TEXT : the test fails; what the last command wrote to $work/err, when
# it is there, follows.
fail() { echo "FAIL: $*" >&2; [ ! -f "$work/err" ] || tail -20 "$work/err" >&2; exit 1; }

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
