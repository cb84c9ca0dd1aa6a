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
#     CHECK_RECORD compare the two. The watch must end on the closing document.
#   hostsim_run.sh plot SCENARIO WORK PYTHON PACING_PLOT -- HOSTSIM   (native)
#     records SCENARIO and draws the recording: the script must leave a PNG picture.
#   hostsim_run.sh verdicts WORK -- HOSTSIM   (native)
#     drives whose result must say what happened: a closing document that also carries a
#     waiting event, a folder that cannot take the file, a file left over from an earlier
#     session, and two hosts writing into one folder.
#   hostsim_run.sh publish RECORDING WORK -- HOSTSIM...
#     replays RECORDING with a link, a FIFO or a folder at telemetry.json.tmp: none is written
#     through or waited on, and the file a link points to is left as it was.
#   hostsim_run.sh gone SCENARIO WORK -- HOSTSIM...   (Windows)
#     plays SCENARIO, which crashes; once the wineserver has ended, Wine numbers processes
#     afresh and the watch started next usually gets the crashed host's pid. The watch must
#     still end by itself with the host gone.
#   hostsim_run.sh interrupt WORK CHECK_RECORD -- HOSTSIM   (native)
#     presses Ctrl+C in the built-in drive: the plug-in must be shut down in good order.
#   hostsim_run.sh files SCENARIO WORK -- HOSTSIM --plugin PLUGIN   (native)
#     what --record and --replay must never do to a file; then SCENARIO, the largest
#     document, recorded over an earlier recording, measured, and replayed with --restamp and
#     --speed beside a watch.
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
  replay | plot | files | gone | publish) scenario=$1 work=$2; shift 2 ;;
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

# Ctrl+C, as a terminal sends it, to a hostsim started in the background here; returns its
# exit status.
interrupt() {
  sleep "$2"
  kill -INT "$1"
  wait "$1"
}

# Runs a watch that must end by itself within 15 s with exit status WANT and the verdict
# TEXT; one that does not is stopped and fails the test, never left running.
ends_by_itself() {
  local want=$1 text=$2 pid got=0
  shift 2
  "$@" >watch.txt 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 $pid 2>/dev/null; then
    kill -INT $pid
    wait $pid || true
    cat watch.txt
    echo "the watch did not end by itself"
    exit 1
  fi
  wait $pid || got=$?
  cat watch.txt
  [ $got -eq "$want" ] || { echo "the watch exited with $got, not $want"; exit 1; }
  grep -q "^verdict: $text" watch.txt || { echo "the watch's verdict is not: $text"; exit 1; }
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
      ends_by_itself 3 "host gone without a closing document" "$1" --watch
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
    # The recorded writer is gone: only --follow keeps the watch to the closing document.
    "$1" --watch --follow --record seen.jsonl >watch.txt 2>&1 &
    watcher=$!
    sleep 1
    "$1" --replay record.jsonl
    interrupt $watcher 0.2 || { cat watch.txt; echo "the watch did not end well"; exit 1; }
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
      "temp a directory|mkdir -p data/QAV/telemetry.json.tmp; echo '$old' >data/QAV/telemetry.json|crash.scenario|3|no document of this run was read: telemetry.json.tmp is a directory"
      "home of 3.9 KB|export XDG_DATA_HOME=\$PWD/\$(long 3900)|crash.scenario|2|its data folder's path is too long for it"
      "home of 4.1 KB|export XDG_DATA_HOME=\$PWD/\$(long 4100)|crash.scenario|2|the data folder's path is too long: "
    )
    # A relative path of N bytes: folders of 200 bytes, as no single name may exceed 255.
    long() {
      local path="" part
      part=$(printf 'd%.0s' $(seq 199))
      while [ $((${#path} + 200)) -le "$1" ]; do path+=$part/; done
      path+=$(printf 'e%.0s' $(seq $(($1 - ${#path}))))
      echo "$path"
    }
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
    # A data home hostsim takes though the plug-in does not: a replay publishes there.
    home=$PWD/$(long 3900)
    mkdir -p "$home"
    "$@" --record record.jsonl closing.scenario >/dev/null
    XDG_DATA_HOME=$home "$1" --replay record.jsonl --speed 100 >out.txt 2>&1 ||
      { cat out.txt; echo "a replay into a 3.9 KB data home failed"; exit 1; }
    [ -s "$home/QAV/telemetry.json" ] || { echo "a replay into a 3.9 KB data home wrote nothing"; exit 1; }
    echo "home of 3.9 KB: a replay publishes there"

    # A full disk: a small tmpfs in a mount namespace of its own (unshare -rm lets any user
    # make one, and it goes with the process), filled before the plug-in loads.
    if unshare -rm true 2>/dev/null; then
      mkdir -p full
      status=0
      unshare -rm bash -c 'mount -t tmpfs -o size=64k tmpfs full && mkdir full/QAV &&
        { head -c 1M /dev/zero >full/QAV/filler 2>/dev/null; XDG_DATA_HOME=$PWD/full exec "$@"; }' \
        - "$@" closing.scenario >out.txt 2>&1 || status=$?
      for says in "writes not replaced:   0" "writes failed:         " "No space left on device"; do
        grep -qF "$says" out.txt || { cat out.txt; echo "full disk: the output must say: $says"; exit 1; }
      done
      [ $status -eq 3 ] || { cat out.txt; echo "full disk: exit $status, not 3"; exit 1; }
      echo "full disk: exit 3, the write named as failed for want of space, no rename blamed"
    else
      echo "full disk: skipped, this machine lets no user make a mount namespace (unshare -rm)"
    fi

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
  files)
    fail() { echo "FAIL: $*"; exit 1; }
    # Runs "$@" expecting exit status WANT and a line holding TEXT; shows what it said.
    expect() {
      local want=$1 text=$2 got=0
      shift 2
      "$@" >out.txt 2>&1 || got=$?
      sed 's/^/    /' out.txt
      [ $got -eq "$want" ] || fail "$* exited with $got, not $want"
      grep -qF -- "$text" out.txt || fail "$* did not say: $text"
    }
    hostsim=$1
    cp "$3" plugin.so
    printf '0 start\n0.3 shutdown\n' >tiny.scenario
    printf 'my notes\n' >notes.txt
    ln -s test.scenario link.scenario
    mkdir folder
    : >empty.jsonl
    : >out.txt
    listing() { find . ! -name out.txt -printf '%p %s %T@\n' | sort | md5sum; }
    before=$(listing)
    # Each refused before anything is loaded: no file changes, no data folder appears.
    while IFS='|' read -r file text; do
      expect 1 "$text" "$hostsim" --plugin plugin.so --record "$file" test.scenario
    done <<'CASES'
test.scenario|that is the scenario
link.scenario|that is the scenario
./plugin.so|that is the plug-in
data/QAV/telemetry.json|that is telemetry.json
data/QAV/telemetry.json.tmp|that is the plug-in's telemetry.json.tmp
notes.txt|notes.txt exists and is not a recording
folder|that is a folder
|--record needs a value
CASES
    [ "$(listing)" = "$before" ] || fail "a refused --record changed a file"
    [ ! -e data/QAV ] || fail "the plug-in was loaded for a refused --record"

    # A failed load leaves an earlier recording as it was; a full disk is no success.
    "$@" --record keep.jsonl tiny.scenario >/dev/null
    cp keep.jsonl earlier.jsonl
    expect 2 "cannot load" "$hostsim" --record keep.jsonl --plugin nope.so tiny.scenario
    cmp keep.jsonl earlier.jsonl || fail "a failed load changed the recording"
    expect 2 "recording incomplete: No space left on device" "$@" --record /dev/full tiny.scenario
    expect 0 "result:" "$@" --record empty.jsonl tiny.scenario
    [ -s empty.jsonl ] || fail "an empty file was not replaced by a recording"

    # The largest document, and nulls, from the real plug-in. pid, written, gameTime and
    # eventSeq are no scenario's to set: they are counted at their widest, as the guide does.
    "$@" --record keep.jsonl test.scenario >/dev/null
    ! cmp -s keep.jsonl earlier.jsonl || fail "the earlier recording was not replaced"
    [ -z "$(find . -name "keep.jsonl.*tmp")" ] || fail "a temporary file of the recording stayed behind"
    grep -q '\\"x\\":-1797[0-9.]*,.*\\"speed\\":null' keep.jsonl ||
      fail "no finite position beside a speed that is not a number"
    grep -q '\\"x\\":null,\\"y\\":null,\\"z\\":null' keep.jsonl || fail "no null position"
    "$hostsim" --replay keep.jsonl --to out >/dev/null
    bytes=$(wc -c <out/telemetry.json)
    for member in pid written gameTime eventSeq; do
      digits=$(grep -o "\"$member\":[0-9]*" out/telemetry.json | cut -d: -f2)
      widest=10
      [ $member != written ] || widest=20
      bytes=$((bytes + widest - ${#digits}))
    done
    echo "the largest document: $bytes bytes"
    [ "$bytes" -eq 6852 ] || fail "the largest document is $bytes bytes, not 6852"

    # --to never names the live data folder, nor nothing.
    live=$(md5sum <data/QAV/telemetry.json)
    expect 1 "--to needs a folder" "$hostsim" --replay keep.jsonl --to ""
    expect 1 "is the data folder" "$hostsim" --replay keep.jsonl --to data/QAV/
    expect 1 "is the data folder" "$hostsim" --replay keep.jsonl --to "$PWD/data/../data/QAV"
    [ "$(md5sum <data/QAV/telemetry.json)" = "$live" ] || fail "a refused replay changed telemetry.json"

    if unshare -rm true 2>/dev/null; then
      mkdir -p full
      status=0
      unshare -rm bash -c 'mount -t tmpfs -o size=64k tmpfs full &&
        { head -c 1M /dev/zero >full/filler 2>/dev/null; s=0; "$@" || s=$?; ls -A full >full.txt; exit $s; }' \
        - "$hostsim" --replay keep.jsonl --to full --speed 100 >out.txt 2>&1 || status=$?
      cat out.txt
      [ $status -eq 2 ] || fail "a replay to a full disk exited with $status, not 2"
      grep -q "No space left on device" out.txt || fail "a replay to a full disk did not say why"
      [ "$(cat full.txt)" = filler ] || fail "a replay to a full disk left $(cat full.txt)"
    else
      echo "a replay to a full disk: skipped, this machine lets no user make a mount namespace"
    fi

    # --restamp runs no two sessions into one: sessions that each begin with their load
    # document are kept apart, and a recording where one does not is refused.
    recordings=$(dirname "$0")/../../docs/recordings
    expect 0 "replayed" "$hostsim" --replay "$recordings/after-crash.jsonl" --to to --restamp --speed 100
    expect 1 "without its load document" "$hostsim" --replay "$recordings/two-hosts.jsonl" --to to --restamp

    # --restamp: each document the replay's own, written now, and byte for byte the recorded
    # one otherwise; a watch beside it says live. --speed 0.5 takes twice the recorded time.
    "$hostsim" --watch --follow >watch.txt 2>&1 & # past the earlier drive's closing document
    watcher=$!
    "$hostsim" --replay keep.jsonl --restamp >/dev/null &
    replayer=$!
    status=0
    interrupt $watcher 2 || status=$?
    wait $replayer
    grep "^verdict:" watch.txt
    [ $status -eq 0 ] || fail "the watch beside a restamped replay exited with $status"
    grep -q "^verdict: live" watch.txt || fail "a watch beside a restamped replay did not say live"
    rm data/QAV/telemetry.json
    "$hostsim" --watch --follow --record seen.jsonl >/dev/null 2>&1 &
    watcher=$!
    sleep 0.5
    "$hostsim" --replay keep.jsonl --restamp --speed 0.5 >/dev/null &
    replayer=$!
    wait $replayer
    # SCENARIO ends in a crash: once the replay has ended, its writer is gone.
    status=0
    interrupt $watcher 0.5 || status=$?
    [ $status -eq 3 ] || fail "the watch of a restamped crash exited with $status, not 3"
    documents() { sed -E 's/.*"document"://; s/\\"pid\\":[0-9]+,\\"written\\":[0-9]+/PID/' "$1"; }
    cmp <(documents keep.jsonl) <(documents seen.jsonl) ||
      fail "restamped documents differ beyond pid and written"
    [ "$(grep -c "\\\\\"pid\\\\\":$replayer," seen.jsonl)" -eq "$(wc -l <seen.jsonl)" ] ||
      fail "a document seen is not the replay's own"
    at() { sed -E -n "$2s/^\\{\"at\":([0-9.]+).*/\\1/p" "$1"; }
    awk -v a="$(at keep.jsonl 1)" -v b="$(at keep.jsonl '$')" -v c="$(at seen.jsonl 1)" \
      -v d="$(at seen.jsonl '$')" 'BEGIN { exit !(d - c >= 1.5 * (b - a)) }' ||
      fail "--speed 0.5 did not take twice the time"
    echo "refusals, replacements and replays as they should be"
    ;;
  publish)
    # Whatever is at telemetry.json.tmp, a replay never writes through it nor waits on it,
    # into --to DIR and (natively) into the data folder alike; one that cannot publish says
    # why and leaves no temporary file of its own behind.
    fail() { echo "FAIL: $*"; exit 1; }
    echo "not QAV's" >victim
    folders=(to)
    [[ $1 == *wine* ]] || folders+=(data/QAV)
    while IFS='|' read -r put want text; do
      for dir in "${folders[@]}"; do
        rm -rf to data && mkdir -p to data/QAV
        case $put in
          link) ln -s "$PWD/victim" $dir/telemetry.json.tmp ;;
          fifo) mkfifo $dir/telemetry.json.tmp ;;
          directory) mkdir $dir/telemetry.json.tmp ;;
        esac
        to=()
        [ $dir = data/QAV ] || to=(--to to)
        got=0
        timeout 60 "$@" --replay test.scenario "${to[@]}" --speed 100 >out.txt 2>&1 || got=$?
        sed 's/^/    /' out.txt
        [ $got -eq "$want" ] || fail "$put in $dir: exit $got, not $want"
        grep -qF -- "$text" out.txt || fail "$put in $dir: the replay did not say: $text"
        [ "$(cat victim)" = "not QAV's" ] || fail "$put in $dir: the replay wrote through the link or removed its file"
        [ "$(find $dir -name '*.tmp' ! -name telemetry.json.tmp)" = "" ] ||
          fail "$put in $dir: a temporary file stayed behind"
        [ "$want" -ne 0 ] || [ -s $dir/telemetry.json ] || fail "$put in $dir: nothing was published"
        echo "$put in $dir: exit $got, says: $text"
      done
    done <<'CASES'
nothing|0|replayed
link|0|replayed
fifo|0|replayed
directory|2|telemetry.json.tmp: it is a directory
CASES
    ;;
  gone)
    "$@" test.scenario >output.txt 2>&1 || { cat output.txt; echo "hostsim failed"; exit 1; }
    WINEPREFIX=${WINEPREFIX:-$(dirname "$1")/../build/windows/wineprefix} wineserver -w
    ends_by_itself 3 "host gone without a closing document" "$@" --watch
    ! grep -q "watch .*stale" watch.txt || { echo "the watch took the dead host's pid for its writer"; exit 1; }
    ;;
  interrupt)
    # Ctrl+C, a kill's SIGTERM and a closing terminal's SIGHUP: each a shutdown in good order,
    # the closing document recorded, exit 0.
    for signal in INT:Ctrl+C TERM:SIGTERM HUP:SIGHUP; do
      rm -f record.jsonl
      status=0
      "$@" --record record.jsonl >output.txt 2>&1 &
      sleep 2
      kill -"${signal%%:*}" $!
      wait $! || status=$?
      cat output.txt
      [ $status -eq 0 ] || { echo "SIG${signal%%:*}: hostsim exited with $status"; exit 1; }
      grep -q "stopped: *by ${signal#*:}, with a shutdown" output.txt ||
        { echo "SIG${signal%%:*}: the summary does not say what stopped the drive"; exit 1; }
      "${check[@]}" record.jsonl any
    done
    ;;
esac
