#!/usr/bin/env bash
# scripts/deps.sh's decisions against a fake apt: a package list that fails to
# download, an install that fails, the 32-bit Wine packages held back by a
# 64-bit library of another version, nothing missing.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
T=$(mktemp -d /tmp/zel-deps-test.XXXXXX)
trap 'rm -rf "$T"' EXIT
fails=0 passes=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { passes=$((passes + 1)); }

mkdir -p "$T/bin"
# Installed packages: "name version multi-arch", in $T/installed.
cat >"$T/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
format=$2 name=$3
line=$(awk -v n="$name" '$1 == n' "$FAKE/installed")
[ -n "$line" ] || exit 1
case "$format" in
  *Status*) echo -n "install ok installed" ;;
  *) set -- $line; echo -n "$2 $3" ;;
esac
FAKE
cat >"$T/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/calls"
case "$1" in
  update)
    [ -f "$FAKE/update-fails" ] || exit 0
    echo "E: Failed to fetch http://mirror.invalid/debian/dists/bookworm-updates/InRelease  Hash Sum mismatch"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    shift
    quiet=0 simulate=0
    for p in "$@"; do
      case "$p" in -qq) quiet=1 ;; -s) simulate=1 ;; esac
    done
    # Pinned versions (name=version) resolve a version mismatch, as they do
    # for apt when every library that needs it is pinned.
    pinned=0
    case "$*" in *=*) [ -f "$FAKE/pins-resolve" ] && pinned=1 ;; esac
    for p in "$@"; do
      if [ "$pinned" = 0 ] && grep -qx -- "$p" "$FAKE/refused" 2>/dev/null; then
        # Quiet, apt says only that it failed; the details come without -qq.
        if [ "$quiet" = 1 ]; then grep '^E:' "$FAKE/refusal"; else cat "$FAKE/refusal"; fi
        exit 100
      fi
    done
    [ "$simulate" = 1 ] || echo "installed $*" >>"$FAKE/calls"
    exit 0 ;;
esac
FAKE
cat >"$T/bin/apt-cache" <<'FAKE'
#!/usr/bin/env bash
c=$(awk -v n="$2" '$1 == n { print $2 }' "$FAKE/candidates")
echo "$2:"; echo "  Installed: (none)"; echo "  Candidate: ${c:-(none)}"
FAKE
printf '#!/bin/sh\necho 0\n' >"$T/bin/id"
printf '#!/bin/sh\nexit 0\n' >"$T/bin/dpkg"
printf '#!/bin/sh\necho C.utf8; echo ru_RU.utf8\n' >"$T/bin/locale"
chmod +x "$T/bin/"*

everything="g++ cmake ninja-build ccache googletest libgtest-dev libbenchmark-dev pkg-config libmodbus-dev python3 libcli11-dev nlohmann-json3-dev locales g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 wine wine64 xvfb xauth"
scenario() {  # name: a fresh fake machine with every native package installed
  rm -rf "$T/fake"; mkdir -p "$T/fake"
  for p in $everything; do echo "$p 1.0 foreign"; done >"$T/fake/installed"
  echo "libc6 2.36-9+deb12u9 same" >>"$T/fake/installed"
  : >"$T/fake/candidates"; : >"$T/fake/refused"; : >"$T/fake/calls"
}
run() {  # stages...: exit code in $rc, stderr in $err
  err=$(FAKE="$T/fake" PATH="$T/bin:$PATH" bash "$ROOT/scripts/deps.sh" "$@" 2>&1 >/dev/null); rc=$?
}
expect() {  # what, condition...
  local what=$1; shift
  if "$@"; then pass; else fail "$what (exit $rc): $err"; fi
}
has() { grep -qF -- "$1" <<<"$err"; }

# Nothing missing: apt is not called.
scenario; echo "wine32:i386 1.0 same" >>"$T/fake/installed"
run windows
expect "nothing missing: exit 0" [ "$rc" = 0 ]
expect "nothing missing: apt untouched" [ ! -s "$T/fake/calls" ]

# A list that failed to download: a warning, then the install from the lists apt has.
scenario; touch "$T/fake/update-fails"
run windows
expect "mid-sync: exit 0" [ "$rc" = 0 ]
expect "mid-sync: the failed list named" has "apt-get update failed for some package lists (http://mirror.invalid/debian/dists/bookworm-updates/InRelease)"
expect "mid-sync: installed anyway" grep -q "install -y -qq wine32:i386" "$T/fake/calls"

# An install that fails for another reason: one line, the packages and apt's reason; exit 1.
scenario; sed -i '/^wine /d' "$T/fake/installed"; echo wine >"$T/fake/refused"
printf 'E: Unable to locate package wine\n' >"$T/fake/refusal"
run windows
expect "failed install: exit 1" [ "$rc" = 1 ]
expect "failed install: one line with packages and reason" has "deps.sh: could not install wine wine32:i386: Unable to locate package wine"

# The 32-bit packages need libc6 at another version than the installed one.
scenario; echo wine32:i386 >"$T/fake/refused"; echo "libc6:i386 2.36-9+deb12u7" >"$T/fake/candidates"
touch "$T/fake/pins-resolve"
cat >"$T/fake/refusal" <<'OUT'
The following packages have unmet dependencies:
 libc6:i386 : Breaks: libc6 (!= 2.36-9+deb12u7) but 2.36-9+deb12u9 is installed
E: Unable to correct problems, you have held broken packages.
OUT
run windows
expect "version mismatch: the rest installed, exit 0" [ "$rc" = 0 ]
expect "version mismatch: said so" has "wine32:i386 not installed: the 32-bit packages need the versions of the installed 64-bit libraries (libc6 2.36-9+deb12u9 installed, 2.36-9+deb12u7 for i386)"
expect "version mismatch: the one command" has "to align them and install, run: apt-get install --allow-downgrades libc6=2.36-9+deb12u7 libc6:i386=2.36-9+deb12u7 wine32:i386"

# A mismatch that the versions apt names do not resolve: said so, the rest installed.
scenario; echo wine32:i386 >"$T/fake/refused"; echo "libc6:i386 2.36-9+deb12u7" >"$T/fake/candidates"
cat >"$T/fake/refusal" <<'OUT'
 libc6:i386 : Breaks: libc6 (!= 2.36-9+deb12u7) but 2.36-9+deb12u9 is installed
E: Unable to correct problems, you have held broken packages.
OUT
run windows
expect "unresolved mismatch: exit 0" [ "$rc" = 0 ]
expect "unresolved mismatch: said so" has "apt cannot resolve it even with these versions; the libraries it named: libc6=2.36-9+deb12u7 libc6:i386=2.36-9+deb12u7"
expect "version mismatch: the suites skip loudly" has "the win32 Wine suites are skipped"

# A version mismatch and another failure: the other failure ends the run.
scenario; sed -i '/^xvfb /d' "$T/fake/installed"; printf 'wine32:i386\nxvfb\n' >"$T/fake/refused"
echo "libc6:i386 2.36-9+deb12u7" >"$T/fake/candidates"
printf ' libc6:i386 : Breaks: libc6 (!= 2.36-9+deb12u7)\nE: Unable to correct problems\n' >"$T/fake/refusal"
run windows
expect "mismatch and a failed install: exit 1" [ "$rc" = 1 ]
expect "mismatch and a failed install: named" has "deps.sh: could not install wine32:i386 xvfb"

# An unknown stage is a usage error.
scenario; run nosuch
expect "unknown stage: exit 2" [ "$rc" = 2 ]

echo "deps: $passes passed, $fails failed"
[ "$fails" = 0 ]
