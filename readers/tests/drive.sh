#!/usr/bin/env bash
# A reader's command beside a real drive, or beside a recording replayed as if written now:
# its verdicts must come in the expected order, and its event counts add up to eventSeq.
#   drive.sh WORK SOURCE EXPECTED READER AFTER_CRASH -- HOSTSIM...
# SOURCE is a scenario, or a recording (.jsonl) replayed four times as fast. EXPECTED is the
# verdicts by their first word, like live,stale,live,host. AFTER_CRASH, unless empty, reads
# the folder once more after the drive, in a new process, and must say the host is gone
# (under Wine after the drive once more, alone, so that the new process gets its pid).
# READER, AFTER_CRASH and HOSTSIM are command lines (under Wine for the Windows build, where
# the reader finds the prefix's data folder itself; natively WORK/data is the data home).
set -euo pipefail
work=$1 source=$2 expected=$3 reader=$4 after_crash=$5
shift 5
[ "$1" = "--" ] && shift
rm -rf "$work"
mkdir -p "$work/data/QAV"
export XDG_DATA_HOME=$work/data
folder=()
if [[ $reader == *wine* ]]; then
  # The prefix keeps the last document of an earlier run: this run starts without it.
  wine=${reader%% *}
  file=$($wine cmd /c 'echo %LOCALAPPDATA%\QAV\telemetry.json' | tr -d '\r')
  rm -f "$($wine winepath -u "$file" | tr -d '\r')"
else
  folder=("$work/data/QAV")
fi

# shellcheck disable=SC2086 # the reader's command line, with wine.sh in front under Wine
$reader "${folder[@]}" >"$work/reader.txt" 2>&1 &
watcher=$!
trap 'kill $watcher 2>/dev/null || true' EXIT
sleep 1
if [[ $source == *.jsonl ]]; then
  "$1" --replay "$source" --restamp --speed 4 >"$work/hostsim.txt" 2>&1 # into WORK/data/QAV
else
  "$@" "$source" >"$work/hostsim.txt" 2>&1
fi || { cat "$work/hostsim.txt"; exit 1; }
sleep 1
kill "$watcher"
wait "$watcher" || true
trap - EXIT
cat "$work/reader.txt"

verdicts=$(sed -n 's/^verdict: \([a-z]*\).*/\1/p' "$work/reader.txt" | uniq | grep -v waiting | paste -sd,)
[ "$verdicts" = "$expected" ] || { echo "verdicts: $verdicts, not $expected"; exit 1; }
events=$(awk -F'[(+)]' '/^document /{n += $(NF-1)} END {print n}' "$work/reader.txt")
last=$(sed -n 's/^document .* #\([0-9]*\) .*/\1/p' "$work/reader.txt" | tail -n 1)
[ "$events" = "$last" ] || { echo "events counted $events, eventSeq $last"; exit 1; }
[ -n "$after_crash" ] || exit 0
if [ -n "${wine:-}" ]; then
  # A Wine server started afresh gives its first program the same pid as last time: the
  # crashed host's pid is then the reader's own.
  export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$wine")/.." && pwd)/build/windows/wineprefix}
  wineserver -w
  "$@" "$source" >"$work/hostsim.txt" 2>&1
  wineserver -w
fi
$after_crash "${folder[@]}"
