#!/usr/bin/env bash
# Finds Wine's programs wherever Debian puts them, for the scripts that run Win32 programs.
# Source it; it sets
#   WINE64      runs x86_64 programs
#   WINE32      runs i686 programs; empty where it cannot (WINE32_ABSENT says why)
#   WINESERVER  the wine server of the same installation
# The `wine` package's commands come first (/usr/bin/wine picks the loader for the program);
# Debian's wine64 and wine32 packages alone put their loaders only under /usr/lib/wine.
# A missing piece stops the calling script with the package that provides it.
# It also brings the helpers for background programs (process-env.sh) and wine_prefix.

. "$(dirname "${BASH_SOURCE[0]}")/process-env.sh"

wine_missing() {
  echo "Wine is not installed completely: $1 (apt-get install -y $2)" >&2
  exit 1
}

WINESERVER=$(command -v wineserver || true)
[ -n "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || wine_missing "no wineserver" wine

# The 32-bit loader also starts 64-bit programs, but only where the kernel runs 32-bit
# programs at all (i386 execve fails with ENOEXEC when IA-32 emulation is off) and the
# optional wine32:i386 package is installed.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/kernel-ia32.sh"
# /usr/bin/wine falls back to the 64-bit loader when wine32 is missing, so ask for the 32-bit
# loader itself. WINE32_ABSENT says why the i686 stages cannot run, for skip_i686.
WINE32=
WINE32_ABSENT=
if ! [ -x /usr/lib/wine/wine ]; then
  WINE32_ABSENT="wine32:i386 is not installed (scripts/install-deps.sh said why)"
elif ! kernel_runs_ia32; then
  WINE32_ABSENT="this kernel cannot run 32-bit programs"
elif WINEDEBUG=-all /usr/lib/wine/wine --version >/dev/null 2>&1; then
  WINE32=$(command -v wine || echo /usr/lib/wine/wine)
else
  WINE32_ABSENT="Wine's 32-bit loader does not start"
fi

# skip_i686 WHAT STILL: the one message of an i686 stage that cannot run.
skip_i686() {
  echo "SKIPPED: $1 (i686): $WINE32_ABSENT, so Wine cannot run i686"
  echo "         programs here ($2)"
}

WINE64=$(command -v wine64 || true)
[ -n "$WINE64" ] || WINE64=/usr/lib/wine/wine64
if ! [ -x "$WINE64" ]; then
  [ -n "$WINE32" ] || wine_missing "no 64-bit loader (wine64)" "wine wine64"
  WINE64=$WINE32
fi

# wine_prefix DIR [LOADER]: makes DIR the Wine prefix of what follows (WINEPREFIX, exported,
# with Wine's debug output off), creates it with LOADER (default $WINE64) and waits until the
# wine server has written it out.
wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  "${2:-$WINE64}" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
}
