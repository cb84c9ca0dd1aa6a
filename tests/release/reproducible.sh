#!/usr/bin/env bash
# Anyone who builds this source must get the very same QAV.dll, or nobody can check that a
# published DLL came from it: builds the DLL from two copies of the source in folders of
# different names and lengths, and compares both with the DLL given (built where the source
# lives). Only the DLL is built.
#   reproducible.sh SOURCE QAV.dll
set -euo pipefail
source=$(cd "$1" && pwd)
dll=$2
work=$(mktemp -d /tmp/qav-reproducible-XXXXXX)
trap 'rm -rf "$work"' EXIT

sums=("$(sha256sum < "$dll" | cut -d' ' -f1)  $dll")
for tree in "$work/a" "$work/second-copy-of-the-source"; do
  mkdir -p "$tree"
  tar -C "$source" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree" -xf -
  cmake -S "$tree" -B "$tree/build" -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$tree/build" --target QAV -j "$(nproc)" >/dev/null
  sums+=("$(sha256sum < "$tree/build/bin/QAV.dll" | cut -d' ' -f1)  $tree/build/bin/QAV.dll")
done
printf '%s\n' "${sums[@]}"
distinct=$(printf '%s\n' "${sums[@]}" | cut -d' ' -f1 | sort -u | wc -l)
if [ "$distinct" -ne 1 ]; then
  echo "the builds differ:"
  cmp -l "$dll" "$work/a/build/bin/QAV.dll" | head -20 || true
  exit 1
fi
echo "identical"
