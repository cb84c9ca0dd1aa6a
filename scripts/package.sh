#!/usr/bin/env bash
# Builds the release QAV.dll (the windows preset) and writes the package a player downloads:
# dist/QAV-VERSION-windows-x64.zip with the DLL, INSTALL.txt, the reader's guide and schema,
# and SHA256SUMS. The version and INSTALL.txt come from the build, which takes them from the
# top of CMakeLists.txt. The files carry a fixed date, so the same DLL gives the same zip.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target QAV >/dev/null
build=build/windows
version=$(sed -n 's/^#define QAV_VERSION "\(.*\)"$/\1/p' $build/generated/plugin/version.h)
name=QAV-$version-windows-x64

stage=$build/package/$name
rm -rf "$stage"
mkdir -p "$stage" dist
cp $build/bin/QAV.dll $build/generated/INSTALL.txt docs/telemetry.md docs/telemetry.schema.json \
  "$stage/"
(cd "$stage" && sha256sum QAV.dll INSTALL.txt telemetry.md telemetry.schema.json > SHA256SUMS)
touch -d '2000-01-01 00:00:00 UTC' "$stage"/*
rm -f "dist/$name.zip"
(cd "$stage" && TZ=UTC zip -q -X "../../../../dist/$name.zip" \
  QAV.dll INSTALL.txt telemetry.md telemetry.schema.json SHA256SUMS)
unzip -l "dist/$name.zip"
echo "dist/$name.zip" # last: the test script takes the path from here
