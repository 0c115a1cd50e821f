# Sourced by the scripts that run Windows programs under Wine: picks the
# loader. The `wine` command starts the 32-bit loader, which hands 64-bit
# programs on to the 64-bit one; a machine that cannot execute 32-bit
# programs (Wine's 32-bit loader fails with "Exec format error") needs the
# 64-bit loader called directly. ZEL_WINE_WIN32=0 forces that mode.
# Sets WINE (empty when no loader runs here), WIN32_RUNS (1 or 0) and, in the
# second mode, exports WINELOADER.
WINE=wine
WIN32_RUNS=1
if [ "${ZEL_WINE_WIN32:-}" = 0 ] || ! wine --version >/dev/null 2>&1; then
  WIN32_RUNS=0
  WINE=""
  for candidate in "$(command -v wine64 2>/dev/null || true)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64 \
                   /usr/lib/x86_64-linux-gnu/wine/wine64 /opt/wine-stable/bin/wine64; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" --version >/dev/null 2>&1; then
      WINE="$candidate"
      break
    fi
  done
  if [ -n "$WINE" ]; then export WINELOADER="$WINE"; fi
fi
