#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix (build/windows/wineprefix), so
# that it never depends on, or leaves anything in, the user's Wine set-up. CMake runs the
# Windows tests through it, and the demo and the benchmarks use it too.
#   scripts/wine.sh PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -d "$WINEPREFIX" ]; then
  # The first run creates the prefix, which takes a while and says a lot.
  echo "creating the Wine prefix $WINEPREFIX (first run only) ..." >&2
  wineboot --init >/dev/null 2>&1 || true
fi
wine=$(command -v wine || command -v wine64)
exec "$wine" "$@"
