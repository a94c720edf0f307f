#!/usr/bin/env bash
# Runs the benchmarks; inputs are kept in $BUILD/bench-data between runs.
set -euo pipefail
build=${1:-build}
export VELMOR_BENCH_DATA="$build/bench-data"
echo "Throughput from a warm page cache; each ratio compares with the peer tool in the same run."
# The video benchmarks draw into windows: on a private virtual display.
"$(dirname "$0")/with-display.sh" "$build/bin/velmor-bench" "${@:2}"
