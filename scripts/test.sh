#!/usr/bin/env bash
# Builds both QAV builds and runs every test: the native unit tests (ASan + UBSan), the
# reference readers (C, Python, Node.js; the C one also under Wine) and the
# torn-read stress, the real QAV.dll under Wine with its tables, version resource and
# reproducibility, the release zip and its reproducibility, and a bounded libFuzzer run
# (clang, ASan + UBSan; QAV_FUZZ_SECONDS, default 60).
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

# The package a player downloads, checked against the DLL the Windows tests just ran against,
# then packed again under other umasks, time zones and locales: the same zip every time.
zip=$(bash scripts/package.sh | tail -n 1)
bash tests/release/check_package.sh "$zip" build/windows/bin/QAV.dll
bash tests/release/zip_reproducible.sh "$zip"

cmake --preset fuzz -DQAV_FUZZ_SECONDS="${QAV_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
