#!/usr/bin/env bash
# The C reader's command on a real drive with a freeze and a crash, then a reader started
# after the crash: it must say "host gone", whatever process now has the writer's pid.
#   drive.sh WORK SCENARIO READER AFTER_CRASH -- HOSTSIM...
# READER, AFTER_CRASH and HOSTSIM are command lines (under Wine for the Windows build, where
# the reader finds the prefix's data folder itself; natively WORK/data is the data home).
set -euo pipefail
work=$1 scenario=$2 reader=$3 after_crash=$4
shift 4
[ "$1" = "--" ] && shift
rm -rf "$work"
mkdir -p "$work/data/QAV"
export XDG_DATA_HOME=$work/data
folder=()
[[ $reader == *wine* ]] || folder=("$work/data/QAV")

# shellcheck disable=SC2086 # the reader's command line, with wine.sh in front under Wine
$reader "${folder[@]}" >"$work/reader.txt" 2>&1 &
watcher=$!
sleep 1
"$@" "$scenario" >"$work/hostsim.txt" 2>&1 || { cat "$work/hostsim.txt"; exit 1; }
sleep 1
kill "$watcher"
wait "$watcher" || true
cat "$work/reader.txt"

# The verdicts in order, each stale N s as one; the events counted against the last eventSeq.
verdicts=$(sed -n 's/^verdict: \(stale\|host\|[a-z]*\).*/\1/p' "$work/reader.txt" | uniq | paste -sd,)
[ "$verdicts" = "live,stale,live,host" ] || [ "$verdicts" = "waiting,live,stale,live,host" ] ||
  { echo "verdicts: $verdicts"; exit 1; }
events=$(awk -F'[(+)]' '/^document /{n += $(NF-1)} END {print n}' "$work/reader.txt")
last=$(sed -n 's/^document .* #\([0-9]*\) .*/\1/p' "$work/reader.txt" | tail -n 1)
[ "$events" = "$last" ] || { echo "events counted $events, eventSeq $last"; exit 1; }

# shellcheck disable=SC2086
$after_crash "${folder[@]}"
