#!/usr/bin/env bash
# Runs hostsim the way a user does and checks what it left behind.
#
#   hostsim_run.sh play SCENARIO EXPECTED WORK CHECK_RECORD... -- HOSTSIM...
#     plays SCENARIO into the freshly built plug-in, recording every revision the reader saw,
#     then has CHECK_RECORD judge them all against EXPECTED: the states, then "crash" or
#     "quiet FROM TO" (see check_record.cpp). After a crash (native only) a watch must find
#     the host gone.
#   hostsim_run.sh refuse SCENARIO LINES WORK -- HOSTSIM...
#     SCENARIO is wrong on each of LINES (like 4,6): hostsim must say so, exit 1 and load
#     nothing.
#   hostsim_run.sh replay SCENARIO WORK CHECK_RECORD -- HOSTSIM   (native)
#     records SCENARIO, replays the recording while a watch records what it sees, and has
#     CHECK_RECORD compare the two.
#   hostsim_run.sh plot SCENARIO WORK PYTHON PACING_PLOT -- HOSTSIM   (native)
#     records SCENARIO and draws the recording: the script must leave a PNG picture.
#   hostsim_run.sh verdicts WORK -- HOSTSIM   (native)
#     drives whose result must say what happened: a closing document that also carries a
#     waiting event, a folder that cannot take the file, a file left over from an earlier
#     session, and two hosts writing into one folder.
#   hostsim_run.sh interrupt WORK CHECK_RECORD -- HOSTSIM   (native)
#     presses Ctrl+C in the built-in drive: the plug-in must be shut down in good order.
#
# HOSTSIM and CHECK_RECORD are the command lines that start the simulator and the record's
# judge (under Wine for the Windows build).
# Every run gets a data folder of its own in WORK for the native build; under Wine the
# prefix's own AppData is used.
set -euo pipefail
mode=$1
shift
case $mode in
  play) scenario=$1 expected=$2 work=$3; shift 3 ;;
  refuse) scenario=$1 lines=$2 work=$3; shift 3 ;;
  replay | plot) scenario=$1 work=$2; shift 2 ;;
  interrupt | verdicts) scenario="" work=$1; shift ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
check=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  check+=("$1")
  shift
done
[ "$1" = "--" ] && shift

rm -rf "$work"
mkdir -p "$work/data"
[ -z "$scenario" ] || cp "$scenario" "$work/test.scenario"
cd "$work"
export XDG_DATA_HOME=$work/data

# Ctrl+C, as a terminal sends it, to a hostsim started in the background here.
interrupt() {
  sleep "$2"
  kill -INT "$1"
  wait "$1"
}

status=0
case $mode in
  play)
    "$@" --record record.jsonl test.scenario >output.txt 2>&1 || status=$?
    cat output.txt
    [ $status -eq 0 ] || { echo "hostsim exited with $status"; exit 1; }
    # shellcheck disable=SC2086 # EXPECTED is the judge's arguments
    "${check[@]}" record.jsonl $expected
    if [[ $expected == *crash* && $(uname) == Linux && $1 != *wine* ]]; then
      "$1" --watch >watch.txt 2>&1 &
      interrupt $! 1 || true
      cat watch.txt
      grep -q "^verdict: host gone without a closing document" watch.txt
    fi
    ;;
  refuse)
    "$@" --record record.jsonl test.scenario >output.txt 2>&1 || status=$?
    cat output.txt
    [ $status -eq 1 ] || { echo "hostsim exited with $status, not 1"; exit 1; }
    for line in ${lines//,/ }; do
      grep -q "test.scenario:$line: " output.txt || { echo "no error names line $line"; exit 1; }
    done
    if grep -q "host " output.txt || [ -e data/QAV ]; then
      echo "the plug-in was loaded for a bad scenario"
      exit 1
    fi
    echo "refused, naming lines $lines"
    ;;
  replay)
    "$@" --record record.jsonl test.scenario >/dev/null
    rm -f data/QAV/telemetry.json
    "$1" --watch --record seen.jsonl >watch.txt 2>&1 &
    watcher=$!
    sleep 1
    "$1" --replay record.jsonl --to data/QAV
    wait $watcher || { cat watch.txt; echo "the watch did not end well"; exit 1; }
    cat watch.txt
    "${check[@]}" --replayed record.jsonl seen.jsonl
    ;;
  plot)
    "$@" --record record.jsonl test.scenario >/dev/null
    "${check[@]}" record.jsonl pacing.png
    [ "$(head -c 4 pacing.png | tail -c 3)" = PNG ] || { echo "pacing.png is not a PNG picture"; exit 1; }
    echo "drew pacing.png"
    ;;
  verdicts)
    printf '0 load\n0.3 job cargo=Gravel\n0.5 job\n1.0 start\n1.05 event x\n1.1 shutdown\n' >closing.scenario
    printf '0 start\n0.3 crash\n' >crash.scenario
    printf '0 start\n2.5 shutdown\n' >long.scenario
    # A document of an earlier session, and a temp path the plug-in cannot write through.
    old='{"plugin":"QAV","version":"1.0.0","pid":1,"written":1,"game":"g","gameVersion":"1.0","paused":true,"gameTime":0,"position":{"x":0.00,"y":0.00,"z":0.00},"speed":0.00,"job":null,"lastEvent":"game.closed","eventSeq":0}'
    # case | data home setup | scenario | exit status | what the output must say
    cases=(
      "closing|:|closing.scenario|0|closing document:      seen"
      "cleared|:|closing.scenario|0|host      job: cleared"
      "no folder|touch home; export XDG_DATA_HOME=\$PWD/home|crash.scenario|3|the folder $work/home/QAV is missing"
      "a file|mkdir -p data; touch data/QAV|crash.scenario|3|$work/data/QAV is not a folder"
      "left over|mkdir -p data/QAV/telemetry.json.tmp; echo '$old' >data/QAV/telemetry.json|crash.scenario|3|still holds one from before this run's load"
    )
    for row in "${cases[@]}"; do
      IFS='|' read -r name setup file want says <<<"$row"
      rm -rf data home && mkdir data
      status=0
      (export XDG_DATA_HOME=$work/data; eval "$setup"; "$@" "$file" >out.txt 2>&1) || status=$?
      if [ $status -ne "$want" ] || ! grep -qF "$says" out.txt; then
        cat out.txt
        echo "$name: exit $status (want $want), output must say: $says"
        exit 1
      fi
      echo "$name: exit $status, says: $says"
    done
    rm -rf data && mkdir data
    status=0
    "$@" long.scenario >one.txt 2>&1 & first=$!
    "$@" long.scenario >two.txt 2>&1 || status=$?
    wait $first || status=$?
    for out in one.txt two.txt; do
      grep -q "another program, pid [0-9]*, wrote [0-9]* documents\? into this folder" $out ||
        { cat $out; echo "two hosts: $out does not name the other writer"; exit 1; }
    done
    [ $status -eq 3 ] || { echo "two hosts: exit $status, not 3"; exit 1; }
    echo "two hosts: both name the other writer and fail"
    ;;
  interrupt)
    "$@" --record record.jsonl >output.txt 2>&1 &
    interrupt $! 2 || status=$?
    cat output.txt
    [ $status -eq 0 ] || { echo "hostsim exited with $status"; exit 1; }
    grep -q "stopped: *by Ctrl+C" output.txt
    "${check[@]}" record.jsonl any
    ;;
esac
