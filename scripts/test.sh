#!/usr/bin/env bash
# Builds both QAV builds and runs every test: the native unit tests (ASan + UBSan), the
# reference readers (C, Python, Node.js; the C one also under Wine) and the
# torn-read stress, the real QAV.dll under Wine with its tables, version resource and
# reproducibility, the native readers and watch beside a host under Wine with the clock it stamps, the
# release zip and the companion kit with the kit's self-test, both zips rebuilt from two clean
# clones of the commit, and a bounded libFuzzer run (clang, ASan + UBSan; QAV_FUZZ_SECONDS,
# default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows
# The native readers and the native watch beside a host under Wine, and which Linux clock its
# documents follow.
bash readers/tests/wine_side.sh
bash tests/tools/watch_run.sh wine build/windows/watch_wine build/native/bin/hostsim \
  -- bash scripts/wine.sh build/windows/bin/hostsim.exe

# The package a player downloads and the companion kit, checked against the DLL the Windows
# tests just ran against, and the kit's self-test as a companion author runs it.
zip=$(bash scripts/package.sh | tail -n 1)
kit=${zip/windows-x64/companion-kit}
bash tests/release/check_package.sh "$zip" build/windows/bin/QAV.dll
bash tests/release/check_package.sh "$kit" build/windows/bin/QAV.dll
bash tests/release/kit_selftest.sh "$kit"
# Both zips and their sums again, from two clean clones of this commit built under other
# paths, umasks, time zones and locales: the same bytes every time.
bash tests/release/zip_reproducible.sh "$(dirname "$zip")"

cmake --preset fuzz -DQAV_FUZZ_SECONDS="${QAV_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
