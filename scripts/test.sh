#!/usr/bin/env bash
# Builds both QAV builds and runs every test: the native unit tests (ASan + UBSan) and the
# real QAV.dll under Wine.
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
