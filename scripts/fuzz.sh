#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds from its corpus.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
corpus="$build/corpus"
mkdir -p "$corpus/container_file"
if [ -z "$(ls -A "$corpus/container_file")" ]; then
  "$build/bin/make_container_seeds" "$corpus/container_file"
fi
echo "fuzz_container_file: ${seconds}s"
"$build/bin/fuzz_container_file" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -print_final_stats=1 "$corpus/container_file"
