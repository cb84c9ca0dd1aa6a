#!/usr/bin/env bash
# Runs hostsim the way a user does and checks what it left behind.
#
#   hostsim_run.sh play PYTHON SCHEMA SCENARIO STATES WORK -- HOSTSIM...
#     plays SCENARIO into the freshly built plug-in, recording every revision the reader saw,
#     then validates them all against SCHEMA and checks they went through STATES.
#   hostsim_run.sh refuse SCENARIO LINE WORK -- HOSTSIM...
#     SCENARIO is wrong on LINE: hostsim must say so, exit 1 and load nothing.
#
# HOSTSIM is the command line that starts the simulator (under Wine for the Windows build).
# Every run gets a data folder of its own in WORK for the native build; under Wine the
# prefix's own AppData is used.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=$1
shift

if [ "$mode" = play ]; then
  python=$1 schema=$2 scenario=$3 states=$4 work=$5
  shift 5
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
  exec "$python" "$here/check_documents.py" run "$schema" record.jsonl "$states"
fi

[ $status -eq 1 ] || { echo "hostsim exited with $status, not 1"; exit 1; }
grep -q "test.scenario:$line: " output.txt || { echo "the error does not name line $line"; exit 1; }
if grep -q "host " output.txt || [ -e data/QAV ]; then
  echo "the plug-in was loaded for a bad scenario"
  exit 1
fi
echo "refused, naming line $line"
