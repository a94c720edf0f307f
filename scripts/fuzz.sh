#!/usr/bin/env bash
# Runs every fuzz target (bin/fuzz_NAME) for the given number of seconds from
# its corpus (corpus/NAME), seeding an empty corpus with bin/make_NAME_seeds
# when that program exists.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=${target##*/fuzz_}
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  if [ -z "$(ls -A "$corpus")" ] && [ -x "$build/bin/make_${name}_seeds" ]; then
    # Seed writers use the encoder libraries of the test fixtures, which keep
    # allocations past closing; their leaks are not the parsers'.
    ASAN_OPTIONS=detect_leaks=0 "$build/bin/make_${name}_seeds" "$corpus"
  fi
  # A finding is kept where it can be found again, one folder per target.
  artifacts="$build/artifacts/$name"
  mkdir -p "$artifacts"
  echo "fuzz_$name: ${seconds}s"
  (cd "$build" && "bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
     -artifact_prefix="artifacts/$name/" -print_final_stats=1 "corpus/$name") || {
    status=1
    echo "fuzz_$name: finding kept in $artifacts" >&2
  }
done
exit $status
