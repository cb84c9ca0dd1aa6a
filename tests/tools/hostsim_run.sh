#!/usr/bin/env bash
# Runs hostsim the way a user does and checks what it left behind.
#
#   hostsim_run.sh play SCENARIO STATES WORK CHECK_RECORD... -- HOSTSIM...
#     plays SCENARIO into the freshly built plug-in, recording every revision the reader saw,
#     then has CHECK_RECORD judge them all and check they went through STATES.
#   hostsim_run.sh refuse SCENARIO LINE WORK -- HOSTSIM...
#     SCENARIO is wrong on LINE: hostsim must say so, exit 1 and load nothing.
#
# HOSTSIM and CHECK_RECORD are the command lines that start the simulator and the record's
# judge (under Wine for the Windows build).
# Every run gets a data folder of its own in WORK for the native build; under Wine the
# prefix's own AppData is used.
set -euo pipefail
mode=$1
shift

if [ "$mode" = play ]; then
  scenario=$1 states=$2 work=$3
  shift 3
  check=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    check+=("$1")
    shift
  done
elif [ "$mode" = refuse ]; then
  scenario=$1 line=$2 work=$3
  shift 3
else
  echo "unknown mode $mode" >&2
  exit 2
fi
[ "$1" = "--" ] && shift

rm -rf "$work"
mkdir -p "$work/data"
cp "$scenario" "$work/test.scenario"
cd "$work"
export XDG_DATA_HOME=$work/data

status=0
"$@" --record record.jsonl test.scenario >output.txt 2>&1 || status=$?
cat output.txt

if [ "$mode" = play ]; then
  [ $status -eq 0 ] || { echo "hostsim exited with $status"; exit 1; }
  exec "${check[@]}" record.jsonl "$states"
fi

[ $status -eq 1 ] || { echo "hostsim exited with $status, not 1"; exit 1; }
grep -q "test.scenario:$line: " output.txt || { echo "the error does not name line $line"; exit 1; }
if grep -q "host " output.txt || [ -e data/QAV ]; then
  echo "the plug-in was loaded for a bad scenario"
  exit 1
fi
echo "refused, naming line $line"
