#!/usr/bin/env bash
# Anyone must be able to pack this source into the very zip we publish, or nobody can check a
# published zip against it: packs the DLL already built twice more, under umask 077,
# TZ=Asia/Tokyo and LC_ALL=C, and under umask 022, TZ=UTC and LC_ALL=C.UTF-8, and compares
# both zips with the one given. Only packing: reproducible.sh rebuilds the DLL.
#   zip_reproducible.sh dist/QAV-VERSION-windows-x64.zip (or the companion kit)
set -euo pipefail
given=$1
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/qav-zip-XXXXXX)
trap 'rm -rf "$work"' EXIT

(umask 077 && TZ=Asia/Tokyo LC_ALL=C bash "$source/scripts/package.sh" "$work/tokyo" >/dev/null)
(umask 022 && TZ=UTC LC_ALL=C.UTF-8 bash "$source/scripts/package.sh" "$work/utc" >/dev/null)
name=$(basename "$given")
zips=("$given" "$work/tokyo/$name" "$work/utc/$name")
sha256sum "${zips[@]}"
if [ "$(sha256sum "${zips[@]}" | cut -d' ' -f1 | sort -u | wc -l)" -ne 1 ]; then
  echo "the zips differ:"
  for zip in "${zips[@]:1}"; do
    diff <(zipinfo -v "$given" | tail -n +2) <(zipinfo -v "$zip" | tail -n +2) | head -20 || true
  done
  exit 1
fi
echo "identical"
