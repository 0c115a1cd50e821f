# Sourced by the scripts that run Windows programs under Wine: picks the
# loader. The `wine` command starts the 32-bit loader, which hands 64-bit
# programs on to the 64-bit one; a machine that cannot execute 32-bit
# programs (Wine's 32-bit loader fails with "Exec format error") needs the
# 64-bit loader called directly, and so does a machine without Wine's 32-bit
# part (Debian's `wine` then falls back to the 64-bit loader and says that
# wine32 is missing). ZEL_WINE_WIN32=0 forces that mode.
# Sets WINE (empty when no loader runs here), WIN32_RUNS (1 or 0), WIN32_WHY
# (why 32-bit programs do not run) and, in the second mode, exports WINELOADER.
WINE=wine
WIN32_RUNS=1
WIN32_WHY=""
if [ "${ZEL_WINE_WIN32:-}" = 0 ]; then
  WIN32_WHY="ZEL_WINE_WIN32=0 is set"
elif ! WIN32_VERSION_TEXT=$(WINEDEBUG= wine --version 2>&1); then
  WIN32_WHY="32-bit programs cannot run on this machine"
elif [[ "$WIN32_VERSION_TEXT" == *"wine32 is missing"* ]]; then
  # Read from the text, not a pipe: under pipefail an early-ending grep
  # would fail the test. WINEDEBUG=-all would silence the notice.
  WIN32_WHY="Wine's 32-bit part (wine32:i386) is not installed"
fi
if [ -n "$WIN32_WHY" ]; then
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
