#!/usr/bin/env bash
# The README's models reference is the output of `zelscales models --markdown`,
# between the markers <!-- models:begin --> and <!-- models:end -->.
#   scripts/models-reference.sh ZELSCALES          rewrite the README's table
#   scripts/models-reference.sh ZELSCALES --check  fail when they differ
set -euo pipefail
tool=$1
readme="$(cd "$(dirname "$0")/.." && pwd)/README.md"
table=$(mktemp)
trap 'rm -f "$table"' EXIT
"$tool" models --markdown >"$table"
current=$(sed -n '/<!-- models:begin -->/,/<!-- models:end -->/p' "$readme" | sed '1d;$d')
if [ "${2:-}" = --check ]; then
  if [ "$current" != "$(cat "$table")" ]; then
    echo "README's models reference differs from zelscales models --markdown:" >&2
    diff <(printf '%s\n' "$current") "$table" >&2 || true
    echo "rewrite it with: scripts/models-reference.sh $tool" >&2
    exit 1
  fi
  echo "models reference: README and model table agree"
  exit 0
fi
awk -v table="$table" '
  /<!-- models:begin -->/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
  /<!-- models:end -->/ { skip = 0 }
  !skip { print }
' "$readme" >"$readme.new"
mv "$readme.new" "$readme"
