#!/usr/bin/env bash
# scripts/kit_docs.pl on a small source of its own: what a zipped document says of the files
# it names, and which zipped documents package.sh must refuse.
#   kit_docs_test.sh KIT_DOCS.PL
set -euo pipefail
script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p docs/recordings scripts readers/js/test stage/recordings stage/readers/js
touch docs/recordings/drive.jsonl scripts/demo.sh readers/js/qav-reader.js readers/js/test/t.js
touch stage/recordings/drive.jsonl stage/readers/js/qav-reader.js
zipped=(guide.md=docs/guide.md recordings/drive.jsonl=docs/recordings/drive.jsonl
        readers/js/qav-reader.js=readers/js/qav-reader.js)
fail=0

# a line of docs/guide.md | the same line in the zip, where guide.md is at the root
while IFS='|' read -r line want; do
  printf '%s\n' "$line" >docs/guide.md
  cp docs/guide.md stage/guide.md
  perl "$script" rewrite docs/guide.md stage/guide.md guide.md "${zipped[@]}"
  got=$(cat stage/guide.md)
  [ "$got" = "$want" ] || { echo "rewrite: $line"; echo "  gave: $got"; echo "  want: $want"; fail=1; }
done <<'ROWS'
    hostsim --replay docs/recordings/drive.jsonl --to /tmp/qav|    hostsim --replay recordings/drive.jsonl --to /tmp/qav
    bash scripts/demo.sh docs/recordings/drive.jsonl|    bash scripts/demo.sh docs/recordings/drive.jsonl   # in the source repository
    npm install ./readers/js|    npm install ./readers/js
    build/native/bin/hostsim --watch|    build/native/bin/hostsim --watch   # in the source repository
Replay `docs/recordings/drive.jsonl` or run `bash scripts/demo.sh`.|Replay `recordings/drive.jsonl` or run `bash scripts/demo.sh` in the source repository.
Tests: `node --test readers/js/test/`.|Tests: `node --test readers/js/test/` in the source repository.
The [drive](recordings/drive.jsonl#top) and the [demo](../scripts/demo.sh).|The [drive](recordings/drive.jsonl#top) and the demo (`scripts/demo.sh` in the source repository).
The table ([`readers/tests/`](../readers/tests/documents.jsonl)).|The table (`readers/tests/documents.jsonl` in the source repository).
A folder of your own, `/tmp/qav`, or [the site](https://example.org/a/b).|A folder of your own, `/tmp/qav`, or [the site](https://example.org/a/b).
ROWS

# a file in the staged zip | its line | what the check says, "" when it passes
while IFS='|' read -r file line says; do
  printf '%s\r\n' "$line" >"stage/$file"
  got=$(perl "$script" check stage) && status=0 || status=$?
  rm "stage/$file"
  if [ -z "$says" ]; then
    [ $status -eq 0 ] || { echo "check refused $file: $line: $got"; fail=1; }
  elif [ $status -eq 0 ] || [[ $got != *"$says"* ]]; then
    echo "check of $file: $line"; echo "  said: $got (exit $status)"; echo "  want: $says"; fail=1
  fi
done <<'ROWS'
guide.md|    hostsim --replay docs/recordings/drive.jsonl|names docs/recordings/drive.jsonl, which this zip does not have
guide.md|    bash scripts/demo.sh   # in the source repository|
guide.md|Run `scripts/demo.sh` first.|names scripts/demo.sh
guide.md|Run scripts/demo.sh in prose, which names no command.|
guide.md|See [the recordings](recordings/README.md).|links to recordings/README.md
guide.md|See [the drive](recordings/drive.jsonl).|
README.txt|   hostsim.exe --replay recordings\drive.jsonl --to "%TEMP%\qav"|
README.txt|   npm install ./readers/js|
README.txt|   bash scripts\demo.sh|names scripts/demo.sh
ROWS
[ $fail -eq 0 ] && echo "kit_docs.pl: every row as it should be"
exit $fail
