#!/usr/bin/env bash
# Measures what QAV costs the host's thread: the native benchmarks (Google Benchmark, an
# optimized build without sanitizers, real clock and real files), then the real QAV.dll's
# write against the raw I/O floor under Wine. Arguments go to the native benchmark, for
# example --benchmark_filter=render. Prints figures only; nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
     "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)"

cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" --target qav_bench >/dev/null
# Repetitions run in random order, so that a benchmark and the floor it is compared with see
# the same state of a shared machine; each figure is the median of the repetitions.
build/bench/bin/qav_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 "$@"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target win_write_bench >/dev/null
echo
bash scripts/wine.sh build/windows/bin/win_write_bench.exe
