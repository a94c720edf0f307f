#!/usr/bin/env bash
# Runs the benchmarks; inputs are kept in $BUILD/bench-data between runs.
set -euo pipefail
build=${1:-build}
export VELMOR_BENCH_DATA="$build/bench-data"
echo "Throughput from a warm page cache; each ratio compares with the peer tool in the same run."
"$build/bin/velmor-bench"
