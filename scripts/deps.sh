#!/usr/bin/env bash
# Installs the Debian packages the named stages need, only those that are missing.
#   scripts/deps.sh [stage...]   stages: native asan tsan fuzz windows package bench, or all (default native)
#     native/asan/tsan  compiler, CMake, Ninja, GoogleTest, libmodbus (a real Modbus slave for tests),
#                       Python (reads the tool's JSON lines in its tests), CLI11 and nlohmann-json (the tool)
#     fuzz              native + clang and its libFuzzer runtime
#     windows           native + MinGW-w64 and Wine (Windows DLLs and their tests)
#     package           native + debootstrap and curl (the check on Debian 11), MinGW-w64 and Wine
#     bench             native (Google Benchmark is in it)
#
# A package list that fails to download (a mirror in the middle of a sync) does
# not stop the install: apt goes on with the lists it has. When the 32-bit Wine
# packages cannot be installed beside the installed 64-bit libraries (their
# versions must be equal, and the lists offer another), the rest is installed,
# the command that aligns the versions is printed, and the win32 Wine suites
# skip loudly (the 32-bit build and its PE checks still run). Any other failed
# install ends the script with one line naming the packages and apt's reason.
set -euo pipefail

native=(g++ cmake ninja-build ccache googletest libgtest-dev libbenchmark-dev pkg-config libmodbus-dev python3
        libcli11-dev nlohmann-json3-dev locales)
mingw=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64)
wine=(wine wine64 wine32:i386 xvfb xauth)

[ $# -gt 0 ] || set -- native
want=("${native[@]}")
for stage in "$@"; do
  case "$stage" in
    native|asan|tsan) ;;
    fuzz) want+=(clang libclang-rt-14-dev) ;;
    windows) want+=("${mingw[@]}" "${wine[@]}") ;;
    package) want+=(debootstrap curl "${mingw[@]}" "${wine[@]}") ;;
    bench) ;;
    all) want+=(clang libclang-rt-14-dev "${mingw[@]}" "${wine[@]}" debootstrap curl) ;;
    *) echo "deps.sh: unknown stage $stage" >&2; exit 2 ;;
  esac
done
# Each package once.
mapfile -t want < <(printf '%s\n' "${want[@]}" | awk '!seen[$0]++')

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
work=$(mktemp -d /tmp/zel-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT

# apt's reason for a failed install, in one line: its error lines and the
# unmet dependencies it lists.
reason() {
  grep -E '^(E: | [^ ].* : )' "$1" | sed 's/^ *//; s/^E: //' | awk '!seen[$0]++' |
    awk 'NR > 1 { printf "; " } { printf "%s", $0 }'
}

update_lists() {
  if ! $sudo apt-get update -qq >"$work/update.log" 2>&1; then
    local failed
    failed=$(grep -E '^(E|W): Failed to fetch' "$work/update.log" | sed -E 's/^(E|W): Failed to fetch //; s/ .*//' |
             awk 'NR > 1 { printf ", " } { printf "%s", $0 }')
    echo "deps.sh: apt-get update failed for some package lists${failed:+ ($failed)}; installing from the lists apt has" >&2
  fi
}

install() {  # packages...
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >"$work/install.log" 2>&1
}

# The native libraries of Multi-Arch "same" that apt names in the log $1
# and whose installed version is not the one the lists offer for i386, each
# as "name installed-version i386-candidate"; names in $2 (a file) are left out.
i386_mismatches() {
  local name version candidate
  grep -oE '[a-z0-9][a-z0-9.+-]+(:i386)?' "$1" | sed 's/:i386$//' | sort -u |
    while read -r name; do
      grep -qx -- "$name" "$2" 2>/dev/null && continue
      version=$(dpkg-query -W -f='${Version} ${Multi-Arch}' "$name" 2>/dev/null) || continue
      case "$version" in *" same") version=${version% same} ;; *) continue ;; esac
      candidate=$(apt-cache policy "$name:i386" 2>/dev/null | awk '/Candidate:/ { print $2; exit }')
      if [ -n "$candidate" ] && [ "$candidate" != "(none)" ] && [ "$candidate" != "$version" ]; then
        echo "$name $version $candidate"
      fi
    done
  return 0
}

# The libraries to pin at the i386 lists' versions, native and i386 alike,
# for the install of $@ to go through: apt names them a layer at a time, so
# each round's simulation brings the next. Prints the pairs found; true when
# apt's simulation then succeeds.
align_i386() {
  local round found pins=()
  : >"$work/pinned"
  : >"$work/mismatches"
  for round in 1 2 3 4 5 6 7 8; do
    if $sudo apt-get install -s --allow-downgrades "${pins[@]}" "$@" >"$work/simulate.log" 2>&1; then
      return 0
    fi
    found=$(i386_mismatches "$work/simulate.log" "$work/pinned")
    [ -n "$found" ] || return 1
    echo "$found" >>"$work/mismatches"
    while read -r name _ candidate; do
      echo "$name" >>"$work/pinned"
      pins+=("$name=$candidate" "$name:i386=$candidate")
    done <<<"$found"
  done
  return 1
}

if [ ${#missing[@]} -gt 0 ]; then
  [ -z "$sudo" ] || command -v sudo >/dev/null || { echo "need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  echo "installing: ${missing[*]}" >&2
  i386=()
  for p in "${missing[@]}"; do case "$p" in *:i386) i386+=("$p") ;; esac; done
  if [ ${#i386[@]} -gt 0 ]; then
    $sudo dpkg --add-architecture i386
  fi
  update_lists
  if ! install "${missing[@]}"; then
    aligned=1 mismatches=""
    if [ ${#i386[@]} -gt 0 ]; then
      align_i386 "${missing[@]}" || aligned=0
      mismatches=$(cat "$work/mismatches")
    fi
    rest=()
    for p in "${missing[@]}"; do case "$p" in *:i386) ;; *) rest+=("$p") ;; esac; done
    if [ -n "$mismatches" ] && { [ ${#rest[@]} -eq 0 ] || install "${rest[@]}"; }; then
      fix=$(awk '{ printf " %s=%s %s:i386=%s", $1, $3, $1, $3 }' <<<"$mismatches")
      have=$(awk 'NR > 1 { printf ", " } { printf "%s %s installed, %s for i386", $1, $2, $3 }' <<<"$mismatches")
      echo "deps.sh: ${i386[*]} not installed: the 32-bit packages need the versions of the installed 64-bit libraries ($have)" >&2
      if [ "$aligned" = 1 ]; then
        echo "deps.sh: to align them and install, run: ${sudo:+$sudo }apt-get install --allow-downgrades${fix} ${missing[*]}" >&2
      else
        echo "deps.sh: apt cannot resolve it even with these versions; the libraries it named: ${fix# }" >&2
      fi
      echo "deps.sh: (or run scripts/deps.sh again once apt-get update fetches every list)" >&2
      echo "deps.sh: until then the win32 Wine suites are skipped (the 32-bit DLL is still built and its PE tables checked)" >&2
    else
      # Quiet, apt gives no details; a simulation names the unmet dependencies.
      $sudo apt-get install -s "${missing[@]}" >>"$work/install.log" 2>&1 || true
      echo "deps.sh: could not install ${missing[*]}: $(reason "$work/install.log")" >&2
      exit 1
    fi
  fi
fi

# A locale with a decimal comma, for the tests of the component's own locale (every stage runs them).
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
