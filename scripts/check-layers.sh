#!/usr/bin/env bash
# The driver's layers include one way only:
#   component -> devices -> scales -> transport -> core -> platform
# and only platform/ includes the operating system's headers or asks which
# system it is compiled for.
set -uo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [component]="component devices scales core transport platform"
  [devices]="devices scales core transport platform"
  [scales]="scales core transport platform"
  [core]="core platform"
  [transport]="transport core platform"
  [platform]="platform"
)
bad=0
for layer in "${!allowed[@]}"; do
  while IFS=: read -r file _ inc; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$inc")
    [ "$target" = "$inc" ] && continue
    if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
      echo "layers: $file includes $target/ ($inc)"; bad=1
    fi
  done < <(grep -rn '#include "[a-z]*/' "$layer" --include=*.cpp --include=*.h)
  [ "$layer" = platform ] && continue
  if grep -rnE '#include <(windows\.h|winsock2\.h|termios\.h|sys/socket\.h|unistd\.h|pthread\.h)>' "$layer" --include=*.cpp --include=*.h; then
    echo "layers: $layer/ includes an operating-system header (only platform/ may)"; bad=1
  fi
  # The system's difference lives in platform/ (platform/abi.h for binary layouts).
  if grep -rnE '^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif).*(_WIN32|_WIN64|__linux__|__APPLE__|_MSC_VER)' "$layer" --include=*.cpp --include=*.h; then
    echo "layers: $layer/ asks which system it runs on (only platform/ may)"; bad=1
  fi
done
[ "$bad" = 0 ] && echo "layers: every include points down"
exit "$bad"
