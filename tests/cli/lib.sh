# Shared by the CLI tests (sourced): needs $zelscales, $work, an array sims
# and a fail function.

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
