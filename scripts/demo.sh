#!/usr/bin/env bash
# Builds the demo recorder corpus (once) and shows it: in the player when it
# has been built (on the display, or on a virtual one when there is none and
# VELMOR_DEMO_HEADLESS is not set), else through velmor-cli, one command for
# each kind of source.
set -euo pipefail
build=${1:-build}
demo=${2:-demo}
bin="$build/bin"

if [ ! -f "$demo/MANIFEST.json" ]; then
  if [ -e "$demo" ] && [ -n "$(ls -A "$demo" 2>/dev/null)" ]; then
    echo "demo: $demo exists but holds no MANIFEST.json (an unfinished or older corpus); remove it and run again" >&2
    exit 1
  fi
  "$bin/velmor-demo-disk" "$demo" > /dev/null
fi

partition="$demo/partition/disk"
device="$demo/partition/device.img"
car=$(ls "$demo/client")

if [ -x "$bin/velmor" ]; then
  if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    # The driving-record page with the demo partition searched and its first
    # day playing from the timeline, as a user would start.
    sock="$demo/velmor-demo.sock"
    rm -f "$sock"
    "$bin/velmor" --control "$sock" &
    pid=$!
    for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
    "$bin/velmor" --command "$sock" \
      "{\"command\":[\"search\",\"$(cd "$partition" && pwd)\",{\"types\":\"all\"}]}" \
      "{\"command\":[\"day\",\"2026-12-01\"]}" \
      "{\"command\":[\"play_at\",\"2026-12-01 10:00:00\"]}" > /dev/null || true
    wait "$pid"
    exit $?
  fi
  # No display: the player runs on a virtual one and leaves pictures of its
  # windows, unless the command-line walk below is asked for.
  if [ -z "${VELMOR_DEMO_HEADLESS:-}" ] && command -v xvfb-run > /dev/null; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$(dirname "$0")/demo-window.sh" "$build" "$demo"
  fi
fi

run() {
  echo "== velmor-cli $*"
  "$bin/velmor-cli" "$@" || echo "(exit $?)"
}

for source in "$partition" "$demo/index-disk" "$demo/download" "$demo/client/$car" \
              "$demo/backup/CH01_20261202_083000.rkrec" "$demo/ifv/CH02_20261201_100000.ifv"; do
  run probe "$source"
done
run info "$partition/fc00000.rpo"
run frames "$partition/fc00000.rpo" --channel 1 --seek 1796119200 --count 5
run info "$demo/backup/CH01_20261202_083000.rkrec"
run frames "$demo/backup/CH03_20261201_100020.rkrec" --count 5
run info "$demo/ifv/CH06_20261201_100200.ifv"
run info "$demo/index-disk/fly00004.ifv"
run store info --device "$device" "$partition" 2>/dev/null
run store search --device "$device" "$partition" --channels 1 2>/dev/null
run log "$demo/index-disk" --type 0x60 --mode 1
# A signed export of half a minute of channel 1 with a copy that has each
# second's time, speed, position and events burned in, and its check.
export VELMOR_PROFILE_DIR="$demo/profile"
run export "$partition" --from 1796119200 --to 1796119230 --channels 1 --format mp4 --overlay --quiet \
  --out "$demo/clips"
report=$(ls -t "$demo"/clips/*/*.report.json 2> /dev/null | head -1 || true)
if [ -n "$report" ]; then
  run verify "$report"
else
  echo "demo: the export wrote no report" >&2
fi
echo "== the corpus: $demo/MANIFEST.json"
