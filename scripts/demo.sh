#!/usr/bin/env bash
# Builds the demo recorder corpus (once) and shows it. Until the player
# window exists the command line shows what the player would open.
set -euo pipefail
build=${1:-build}
demo=${2:-demo}
bin="$build/bin"

if [ ! -f "$demo/container/fc00000.rpo" ]; then
  "$bin/velmor-demo-disk" "$demo"
fi
file="$demo/container/fc00000.rpo"
echo "== velmor-cli info $file"
"$bin/velmor-cli" info "$file"
echo "== velmor-cli frames $file --count 5"
"$bin/velmor-cli" frames "$file" --count 5
